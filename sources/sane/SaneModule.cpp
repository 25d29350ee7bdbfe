// The SANE source library: its sources, and the window it shows when a graphical
// application runs it on that application's thread.
#include <iostream>

#include "sources/common/SourceModule.h"
#include "sources/sane/SaneSource.h"
#include "sources/sane/SaneWindow.h"

TW_UINT16 SourceModuleEntry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                            TW_MEMREF data) {
    // One per process: the library is never unloaded (-z nodelete), because it keeps
    // the next device's worker, started ahead, between sessions (SaneWorkerStandby).
    // Its destructor, at the end, closes a session the application left open.
    static SaneSource source(OpenSourceWindow<SaneWindow, SaneSession, SaneUiModel>,
                             SaneSource::Environment::Process, std::cerr);
    return source.Entry(origin, dg, dat, msg, data);
}
