#include "sources/testchart/TestChartBatch.h"

#include <algorithm>

#include "sources/testchart/TestChartPage.h"

namespace {

int SidesPerSheet(const TestChartSettings& settings) {
    return settings.feederEnabled && settings.duplexEnabled ? 2 : 1;
}

}  // namespace

int TestChartBatch::MostPages(const TestChartSettings& settings) {
    return settings.feederEnabled ? settings.pages * SidesPerSheet(settings)
                                  : TestChartSettings::kMaxPages;
}

TestChartBatch::TestChartBatch(const TestChartSettings& settings, int transferCount)
    : m_settings(settings), m_sides(SidesPerSheet(settings)) {
    const int most = MostPages(settings);
    if (transferCount == -1)
        m_pages = settings.feederEnabled ? most : 1;
    else
        m_pages = std::clamp(transferCount, 1, most);
}

ChartSide TestChartBatch::SideOf(int page) const {
    return m_sides == 2 && page % 2 == 0 ? ChartSide::Back : ChartSide::Front;
}

TestChartSettings TestChartBatch::SettingsOf(int page) const {
    // Both sides of a sheet are scanned alike, so that a front is the page the same
    // sheet gives without duplex.
    TestChartSettings settings = m_settings;
    settings.pages = Sheets();
    return settings.ForPage(SheetOf(page));
}

HGLOBAL TestChartBatch::MakePage(int page) const {
    return MakeTestChartPage(SettingsOf(page), SheetOf(page), SideOf(page));
}

TW_IMAGEINFO TestChartBatch::Describe(int page) const {
    return TestChartImageInfo(SettingsOf(page));
}

int TestChartBatch::SheetsInFeeder(int page) const {
    if (!FromFeeder()) return m_settings.pages;
    return std::max(0, m_settings.pages - SheetOf(page));
}
