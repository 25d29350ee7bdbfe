// One open session of the test-chart source: the pages of its batches, its
// capabilities and its scan area; the states and triplets are SourceSession's.
//
// MSG_XFERREADY is posted as soon as the first page of a batch is ready; the worker
// stays a few pages ahead, and a transfer of a page still being made waits for it. The
// batch's page count is known at its start, so its last MSG_ENDXFER ends it.
#pragma once

#include <memory>
#include <optional>

#include "sources/common/SourceSession.h"
#include "sources/testchart/TestChartBatch.h"
#include "sources/testchart/TestChartCapabilities.h"
#include "sources/testchart/TestChartLayout.h"
#include "sources/testchart/TestChartSettings.h"
#include "sources/testchart/TestChartUi.h"

class TestChartWorker;

class TestChartSession : public SourceSession {
public:
    // self is the source's identity with the Id the DSM gave it. unattended: a source
    // enabled with its user interface scans at once and shows no window.
    TestChartSession(const TW_IDENTITY& self, const TestChartSettings& settings, bool unattended,
                     TestChartUiFactory uiFactory);
    // Stops the batch, frees every page not handed over and takes the window down.
    ~TestChartSession() override;

    // From the window, on the application's thread.
    bool StartScan(const TestChartSettings& settings);  // false while a batch is under way
    TestChartProgress Progress();

private:
    TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* capability, TW_UINT16* condition) override;
    TW_UINT16 ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, TW_UINT16* condition) override;
    // The feeder holds sheets: always between batches (it is filled for each), and
    // during a feeder batch while sheets after the current page's remain.
    bool FeederLoaded() const;
    // The page being transferred, from 1: those before it have ended.
    int CurrentPage() const { return m_batch->Pages() - m_pending + 1; }
    SourceUi* OpenWindow() override;
    bool StartPages() override;
    void StopPages() override;
    bool PagesReady() override;
    int PagesPending() override { return m_pending; }
    bool DescribePage(TW_IMAGEINFO* info) override;
    HGLOBAL TakePage() override;
    int EndPage() override { return --m_pending; }

    TestChartSettings m_settings;
    TestChartCapabilities m_capabilities;
    TestChartLayout m_layout;
    TestChartUiFactory m_uiFactory;

    std::unique_ptr<TestChartWorker> m_worker;
    std::optional<TestChartBatch> m_batch;  // the batch under way or last run
    int m_pending = 0;                      // pages of the batch not yet ended
    TestChartProgress m_lastProgress;
};
