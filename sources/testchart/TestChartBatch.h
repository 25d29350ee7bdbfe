// The pages of one batch and where each comes from. From the feeder: every sheet it
// holds (settings.pages), front then back when duplex is on, as many as the transfer
// count asks at most. From the flatbed: one page, or as many as the transfer count asks
// (the bed scanned again); duplex does not apply. A page reads "PAGE s/n": its sheet and
// the sheets of the batch.
#pragma once

#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartSettings.h"
#include "twain/TwainTypes.h"

class TestChartBatch {
public:
    // transferCount: -1 for every page the source has, else the pages asked for.
    explicit TestChartBatch(const TestChartSettings& settings, int transferCount = -1);

    // The largest transfer count these settings can honour.
    static int MostPages(const TestChartSettings& settings);

    int Pages() const { return m_pages; }
    int Sheets() const { return (m_pages + m_sides - 1) / m_sides; }
    bool FromFeeder() const { return m_settings.feederEnabled; }

    // Pages count from 1.
    int SheetOf(int page) const { return (page - 1) / m_sides + 1; }
    ChartSide SideOf(int page) const;
    // The settings page `page` is made with.
    TestChartSettings SettingsOf(int page) const;
    // The page in a new global block, which the caller frees; null when memory is short.
    HGLOBAL MakePage(int page) const;
    TW_IMAGEINFO Describe(int page) const;
    // Sheets still in the feeder while page `page` is scanned: its own sheet has left.
    int SheetsInFeeder(int page) const;

private:
    TestChartSettings m_settings;
    int m_sides = 1;
    int m_pages = 0;
};
