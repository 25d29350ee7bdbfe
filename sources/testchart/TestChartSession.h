// One open session of the test-chart source: the pages of its batches and its
// capabilities; the states and triplets are SourceSession's.
//
// MSG_XFERREADY is posted as soon as the first page of a batch is ready; the worker
// stays a few pages ahead, and a transfer of a page still being made waits for it. The
// batch's page count is known at its start, so its last MSG_ENDXFER ends it.
#pragma once

#include <memory>

#include "sources/common/SourceSession.h"
#include "sources/testchart/TestChartCapabilities.h"
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
    TestChartUiFactory m_uiFactory;

    std::unique_ptr<TestChartWorker> m_worker;
    TestChartSettings m_batchSettings;
    int m_pending = 0;  // pages of the batch not yet ended
    TestChartProgress m_lastProgress;
};
