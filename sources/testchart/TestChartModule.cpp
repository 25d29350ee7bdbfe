// The test-chart source library: its one source, and the window it shows when a
// graphical application runs it on that application's thread.
#include <iostream>

#include "sources/common/SourceModule.h"
#include "sources/testchart/TestChartEnvironment.h"
#include "sources/testchart/TestChartSource.h"
#include "sources/testchart/TestChartWindow.h"

TW_UINT16 SourceModuleEntry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                            TW_MEMREF data) {
    // One per loaded library; its destructor, run when the library is unloaded, closes
    // a session the application left open.
    static TestChartSource source(
        OpenSourceWindow<TestChartWindow, TestChartSession, TestChartSettings>,
        TestChartEnvironment::Process(), std::cerr);
    return source.Entry(origin, dg, dat, msg, data);
}
