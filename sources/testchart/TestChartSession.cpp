#include "sources/testchart/TestChartSession.h"

#include <algorithm>
#include <exception>

#include "sources/testchart/TestChartPage.h"
#include "sources/testchart/TestChartWorker.h"

TestChartSession::TestChartSession(const TW_IDENTITY& self, const TestChartSettings& settings,
                                   bool unattended, TestChartUiFactory uiFactory)
    : SourceSession(self, unattended,
                    {.countedBatch = true,
                     .disableWithPagesWaiting = false,
                     .describeTakenPage = true,
                     .noPageCondition = TWCC_LOWMEMORY}),
      m_settings(settings),
      m_capabilities(m_settings),
      m_layout(m_settings),
      m_uiFactory(std::move(uiFactory)) {}

TestChartSession::~TestChartSession() { EndSession(); }

TW_UINT16 TestChartSession::Capability(TW_UINT16 msg, TW_CAPABILITY* capability,
                                       TW_UINT16* condition) {
    return m_capabilities.Handle(msg, capability, CurrentStateLocked() == State::Open,
                                 FeederLoaded(), condition);
}

TW_UINT16 TestChartSession::ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout,
                                        TW_UINT16* condition) {
    return m_layout.Handle(msg, layout, CurrentStateLocked() == State::Open, condition);
}

bool TestChartSession::FeederLoaded() const {
    if (!m_worker || m_pending <= 0) return m_settings.pages > 0;
    return m_batch->SheetsInFeeder(CurrentPage()) > 0;
}

SourceUi* TestChartSession::OpenWindow() {
    return m_uiFactory ? m_uiFactory(*this, m_settings) : nullptr;
}

bool TestChartSession::PagesReady() {
    return m_worker && m_pending > 0 && m_worker->FirstPageReady();
}

bool TestChartSession::DescribePage(TW_IMAGEINFO* info) {
    if (!m_batch || m_pending <= 0) return false;
    *info = m_batch->Describe(CurrentPage());
    return true;
}

HGLOBAL TestChartSession::TakePage() { return m_worker->TakePage(); }

bool TestChartSession::StartPages() {
    m_batch.emplace(m_settings, m_capabilities.TransferCount());
    const SourceNotifier notifier = Notifier();
    try {
        m_worker = std::make_unique<TestChartWorker>(*m_batch,
                                                     [notifier] { notifier.Post(MSG_XFERREADY); });
    } catch (const std::exception&) {
        return false;
    }
    m_pending = m_batch->Pages();
    m_lastProgress = TestChartProgress{0, m_pending, true};
    return true;
}

void TestChartSession::StopPages() {
    if (m_worker) {
        m_lastProgress = TestChartProgress{m_worker->PagesMade(), m_worker->PagesAsked(), false};
        m_worker.reset();
    }
    m_pending = 0;
}

bool TestChartSession::StartScan(const TestChartSettings& settings) {
    auto lock = Lock();
    if (SyncState() != State::Enabled || m_worker) return false;
    m_settings = settings;
    m_settings.dpi =
        std::clamp(m_settings.dpi, TestChartSettings::kMinDpi, TestChartSettings::kMaxDpi);
    m_settings.pages = std::clamp(m_settings.pages, 1, TestChartSettings::kMaxPages);
    return StartPages();
}

TestChartProgress TestChartSession::Progress() {
    auto lock = Lock();
    if (m_worker) return TestChartProgress{m_worker->PagesMade(), m_worker->PagesAsked(), true};
    return m_lastProgress;
}
