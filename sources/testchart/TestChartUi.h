// What the test chart's session knows of its window, so that the core needs no
// toolkit: the window itself lives in the source module.
#pragma once

#include <functional>

#include "sources/common/SourceUi.h"
#include "sources/testchart/TestChartSettings.h"

class TestChartSession;

// Pages made of the batch under way or last run, for the window's progress bar.
struct TestChartProgress {
    int made = 0;
    int asked = 0;
    bool running = false;
};

// Makes the window for an enabled session, showing the given settings; null when no
// window can be shown (no graphical application, or not on its thread).
using TestChartUiFactory =
    std::function<SourceUi*(TestChartSession& session, const TestChartSettings& settings)>;
