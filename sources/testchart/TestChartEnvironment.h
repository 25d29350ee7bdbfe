// The test chart's settings from the environment, read when the source is opened.
// VELOMARK_TESTCHART_TYPE    bw | gray4 | gray | palette | rgb
// VELOMARK_TESTCHART_DPI     25 to 1200
// VELOMARK_TESTCHART_SIZE    letter | a4 | legal | <width>x<height> in pixels
// VELOMARK_TESTCHART_PAGES   1 to 999
// VELOMARK_UNATTENDED        1: a source enabled with its window scans at once instead
#pragma once

#include <functional>
#include <ostream>

#include "sources/testchart/TestChartSettings.h"

class TestChartEnvironment {
public:
    // Looks a variable up: null when it is not set.
    using Lookup = std::function<const char*(const char*)>;

    explicit TestChartEnvironment(Lookup lookup);
    // The process environment.
    static TestChartEnvironment Process();

    // The defaults with every variable that is set and valid applied. A value that is
    // not valid gets one line on `warnings` and leaves that setting at its default.
    TestChartSettings Settings(std::ostream& warnings) const;
    bool Unattended() const;

private:
    Lookup m_lookup;
};
