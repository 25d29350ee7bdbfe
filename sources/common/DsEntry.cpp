// The one export of every source library, DS_Entry; built into each module (see
// velomark_source_module), beside the module's own SourceModuleEntry.
#include <wx/app.h>
#include <wx/thread.h>

#include "sources/common/SourceModule.h"
#include "twain/DataSource.h"

bool SourceWindowsAllowed() { return wxTheApp && wxTheApp->IsGUI() && wxIsMainThread(); }

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY origin,
                                                                     TW_UINT32 dg, TW_UINT16 dat,
                                                                     TW_UINT16 msg,
                                                                     TW_MEMREF data) {
    return SourceModuleEntry(origin, dg, dat, msg, data);
}
