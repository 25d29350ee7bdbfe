// What the source's state machine knows of its window, so that the core needs no
// toolkit: the window itself lives in the source module.
#pragma once

#include <functional>

#include "sources/testchart/TestChartSettings.h"

class TestChartSession;

// Pages made of the batch under way or last run, for the window's progress bar.
struct TestChartProgress {
    int made = 0;
    int asked = 0;
    bool running = false;
};

class TestChartUi {
public:
    // The session is done with the window: it goes away and calls the session no more.
    virtual void Dismiss() = 0;

protected:
    ~TestChartUi() = default;
};

// Makes the window for an enabled session, showing the given settings; null when no
// window can be shown (no graphical application, or not on its thread).
using TestChartUiFactory =
    std::function<TestChartUi*(TestChartSession& session, const TestChartSettings& settings)>;
