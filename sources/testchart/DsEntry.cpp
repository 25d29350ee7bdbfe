// The test-chart source library's one export, DS_Entry, and the window it shows when
// a graphical application runs it on that application's thread.
#include <wx/app.h>
#include <wx/thread.h>

#include <iostream>

#include "sources/testchart/TestChartEnvironment.h"
#include "sources/testchart/TestChartSource.h"
#include "sources/testchart/TestChartWindow.h"
#include "twain/DataSource.h"

namespace {

TestChartUi* OpenWindow(TestChartSession& session, const TestChartSettings& settings) {
    if (!wxTheApp || !wxTheApp->IsGUI() || !wxIsMainThread()) return nullptr;
    return TestChartWindow::Open(session, settings);
}

// One per loaded library; its destructor, run when the library is unloaded, closes a
// session the application left open.
TestChartSource& Source() {
    static TestChartSource source(OpenWindow, TestChartEnvironment::Process(), std::cerr);
    return source;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY origin,
                                                                     TW_UINT32 dg, TW_UINT16 dat,
                                                                     TW_UINT16 msg,
                                                                     TW_MEMREF data) {
    return Source().Entry(origin, dg, dat, msg, data);
}
