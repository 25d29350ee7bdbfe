// The environment of an unattended run through the real DSM: the test chart as the
// default source, three 173x61 pages at 150 dpi, settings in a private folder.
#pragma once

#include <stdlib.h>

#include <string>

inline void SetUnattendedChart(const std::string& configFolder) {
    setenv("XDG_CONFIG_HOME", configFolder.c_str(), 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "173x61", 1);
    setenv("VELOMARK_TESTCHART_DPI", "150", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    unsetenv("VELOMARK_DSM");
}

// Removes what SetUnattendedChart and the tests set (XDG_CONFIG_HOME stays).
inline void ClearUnattendedChart() {
    for (const char* name :
         {"VELOMARK_UNATTENDED", "VELOMARK_DEFAULT_SOURCE", "VELOMARK_TESTCHART_SIZE",
          "VELOMARK_TESTCHART_DPI", "VELOMARK_TESTCHART_PAGES", "VELOMARK_TESTCHART_TYPE"})
        unsetenv(name);
}
