// The SANE source library's one export, DS_Entry, and the window it shows when a
// graphical application runs it on that application's thread.
#include <wx/app.h>
#include <wx/thread.h>

#include <iostream>

#include "sources/sane/SaneSource.h"
#include "sources/sane/SaneWindow.h"
#include "twain/DataSource.h"

namespace {

SaneUi* OpenWindow(SaneSession& session, const SaneUiModel& model) {
    if (!wxTheApp || !wxTheApp->IsGUI() || !wxIsMainThread()) return nullptr;
    return SaneWindow::Open(session, model);
}

// One per process: the library is never unloaded (-z nodelete), because SANE, once
// started, runs until the process ends (see SaneLibrary). Its destructor, at the end,
// closes a session the application left open.
SaneSource& Source() {
    static SaneSource source(OpenWindow, SaneSource::Environment::Process, std::cerr);
    return source;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY origin,
                                                                     TW_UINT32 dg, TW_UINT16 dat,
                                                                     TW_UINT16 msg,
                                                                     TW_MEMREF data) {
    return Source().Entry(origin, dg, dat, msg, data);
}
