#include "sources/testchart/TestChartEnvironment.h"

#include <cstdlib>
#include <string>

#include "twain/UnattendedSetting.h"

namespace {

void Refuse(std::ostream& warnings, const char* name, const char* value, const char* expected,
            const std::string& fallback) {
    warnings << "Velomark Test Chart: " << name << "=\"" << value << "\" is not " << expected
             << "; using " << fallback << "\n";
}

}  // namespace

TestChartEnvironment::TestChartEnvironment(Lookup lookup) : m_lookup(std::move(lookup)) {}

TestChartEnvironment TestChartEnvironment::Process() {
    return TestChartEnvironment([](const char* name) -> const char* { return std::getenv(name); });
}

TestChartSettings TestChartEnvironment::Settings(std::ostream& warnings) const {
    TestChartSettings settings;
    const TestChartSettings defaults;

    if (const char* type = m_lookup("VELOMARK_TESTCHART_TYPE")) {
        if (std::string(type) == "mixed")
            settings.mixedTypes = true;
        else if (!TestChartSettings::ParsePixelType(type, &settings.pixelType))
            Refuse(warnings, "VELOMARK_TESTCHART_TYPE", type,
                   "bw, gray4, gray, palette, rgb or mixed", "rgb");
    }
    if (const char* dpi = m_lookup("VELOMARK_TESTCHART_DPI")) {
        if (!TestChartSettings::ParseNumber(dpi, TestChartSettings::kMinDpi,
                                            TestChartSettings::kMaxDpi, &settings.dpi))
            Refuse(warnings, "VELOMARK_TESTCHART_DPI", dpi, "a resolution from 25 to 1200 dpi",
                   std::to_string(defaults.dpi) + " dpi");
    }
    if (const char* size = m_lookup("VELOMARK_TESTCHART_SIZE")) {
        if (!TestChartSettings::ParsePageSize(size, &settings))
            Refuse(warnings, "VELOMARK_TESTCHART_SIZE", size,
                   "letter, a4, legal or <width>x<height> pixels (1 to 20000 each)", "letter");
    }
    if (const char* pages = m_lookup("VELOMARK_TESTCHART_PAGES")) {
        if (!TestChartSettings::ParseNumber(pages, 1, TestChartSettings::kMaxPages,
                                            &settings.pages))
            Refuse(warnings, "VELOMARK_TESTCHART_PAGES", pages, "a page count from 1 to 999",
                   std::to_string(defaults.pages));
    }
    return settings;
}

bool TestChartEnvironment::Unattended() const {
    return UnattendedValue(m_lookup(kUnattendedVariable));
}
