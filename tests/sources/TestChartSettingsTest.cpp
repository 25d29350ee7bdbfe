// Settings from the environment: valid words taken, invalid ones refused with one line
// naming the variable, and the default kept.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "sources/testchart/TestChartEnvironment.h"

namespace {

TestChartEnvironment FakeEnvironment(const std::map<std::string, std::string>& variables) {
    return TestChartEnvironment([variables](const char* name) -> const char* {
        auto it = variables.find(name);
        return it == variables.end() ? nullptr : it->second.c_str();
    });
}

int LineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

TEST(TestChartEnvironment, NothingSetGivesTheDefaults) {
    std::ostringstream warnings;
    const TestChartSettings settings = FakeEnvironment({}).Settings(warnings);
    EXPECT_EQ(settings.pixelType, ChartPixelType::Rgb);
    EXPECT_EQ(settings.dpi, 100);
    EXPECT_EQ(settings.pageSize, ChartPageSize::Letter);
    EXPECT_EQ(settings.pages, 1);
    EXPECT_EQ(warnings.str(), "");
    EXPECT_FALSE(FakeEnvironment({}).Unattended());
}

TEST(TestChartEnvironment, ValidValuesAreTaken) {
    std::ostringstream warnings;
    const TestChartSettings settings = FakeEnvironment({{"VELOMARK_TESTCHART_TYPE", "Gray4"},
                                                        {"VELOMARK_TESTCHART_DPI", "300"},
                                                        {"VELOMARK_TESTCHART_SIZE", "a4"},
                                                        {"VELOMARK_TESTCHART_PAGES", "12"}})
                                           .Settings(warnings);
    EXPECT_EQ(settings.pixelType, ChartPixelType::Gray4);
    EXPECT_EQ(settings.dpi, 300);
    EXPECT_EQ(settings.pageSize, ChartPageSize::A4);
    EXPECT_EQ(settings.pages, 12);
    EXPECT_EQ(warnings.str(), "");

    const TestChartSettings custom =
        FakeEnvironment({{"VELOMARK_TESTCHART_SIZE", "64X48"}}).Settings(warnings);
    EXPECT_EQ(custom.pageSize, ChartPageSize::Custom);
    EXPECT_EQ(custom.PixelWidth(), 64);
    EXPECT_EQ(custom.PixelHeight(), 48);
}

TEST(TestChartEnvironment, EachInvalidValueGetsOneLineAndTheDefault) {
    const std::map<std::string, std::string> badValues[] = {
        {{"VELOMARK_TESTCHART_TYPE", "cmyk"}},
        {{"VELOMARK_TESTCHART_TYPE", ""}},
        {{"VELOMARK_TESTCHART_DPI", "24"}},
        {{"VELOMARK_TESTCHART_DPI", "1201"}},
        {{"VELOMARK_TESTCHART_DPI", "3OO"}},
        {{"VELOMARK_TESTCHART_DPI", "-100"}},
        {{"VELOMARK_TESTCHART_DPI", "99999999999999"}},
        {{"VELOMARK_TESTCHART_SIZE", "b5"}},
        {{"VELOMARK_TESTCHART_SIZE", "0x10"}},
        {{"VELOMARK_TESTCHART_SIZE", "10x"}},
        {{"VELOMARK_TESTCHART_SIZE", "x10"}},
        {{"VELOMARK_TESTCHART_SIZE", "20001x5"}},
        {{"VELOMARK_TESTCHART_SIZE", "5x5x5"}},
        {{"VELOMARK_TESTCHART_PAGES", "0"}},
        {{"VELOMARK_TESTCHART_PAGES", "1000"}},
        {{"VELOMARK_TESTCHART_PAGES", "2 "}},
    };
    const TestChartSettings defaults;
    for (const auto& variables : badValues) {
        const std::string& name = variables.begin()->first;
        std::ostringstream warnings;
        const TestChartSettings settings = FakeEnvironment(variables).Settings(warnings);
        EXPECT_TRUE(settings == defaults) << name << "=" << variables.begin()->second;
        EXPECT_EQ(LineCount(warnings.str()), 1) << warnings.str();
        EXPECT_NE(warnings.str().find(name), std::string::npos) << warnings.str();
    }
}

TEST(TestChartEnvironment, AnInvalidValueLeavesTheOthersTaken) {
    std::ostringstream warnings;
    const TestChartSettings settings = FakeEnvironment({{"VELOMARK_TESTCHART_TYPE", "bw"},
                                                        {"VELOMARK_TESTCHART_DPI", "many"},
                                                        {"VELOMARK_TESTCHART_PAGES", "3"}})
                                           .Settings(warnings);
    EXPECT_EQ(settings.pixelType, ChartPixelType::BlackWhite);
    EXPECT_EQ(settings.dpi, 100);
    EXPECT_EQ(settings.pages, 3);
    EXPECT_EQ(LineCount(warnings.str()), 1);
}

TEST(TestChartEnvironment, UnattendedOnlyWhenOne) {
    EXPECT_TRUE(FakeEnvironment({{"VELOMARK_UNATTENDED", "1"}}).Unattended());
    EXPECT_FALSE(FakeEnvironment({{"VELOMARK_UNATTENDED", "0"}}).Unattended());
    EXPECT_FALSE(FakeEnvironment({{"VELOMARK_UNATTENDED", "yes"}}).Unattended());
}

}  // namespace
