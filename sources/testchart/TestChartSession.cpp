#include "sources/testchart/TestChartSession.h"

#include <algorithm>
#include <exception>

#include "platform/GlobalMemory.h"
#include "sources/common/SourceConditions.h"
#include "sources/testchart/TestChartPage.h"
#include "sources/testchart/TestChartWorker.h"
#include "twain/DataSource.h"

TestChartSession::TestChartSession(const TW_IDENTITY& self, const TestChartSettings& settings,
                                   bool unattended, TestChartUiFactory uiFactory)
    : m_self(self),
      m_settings(settings),
      m_capabilities(m_settings),
      m_unattended(unattended),
      m_uiFactory(std::move(uiFactory)) {}

TestChartSession::~TestChartSession() {
    std::lock_guard lock(m_mutex);
    StopBatch();
    DismissWindow();
}

TestChartSession::State TestChartSession::CurrentState() {
    std::lock_guard lock(m_mutex);
    return SyncState();
}

TestChartSession::State TestChartSession::SyncState() {
    if (m_state == State::Enabled && m_worker && m_pending > 0 && m_worker->FirstPageReady())
        m_state = State::TransferReady;
    return m_state;
}

TW_UINT16 TestChartSession::Handle(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                                   TW_UINT16* condition) {
    std::lock_guard lock(m_mutex);
    SyncState();
    return Route(dg, dat, msg, data, condition);
}

TW_UINT16 TestChartSession::Capability(TW_UINT16 msg, TW_CAPABILITY* capability,
                                       TW_UINT16* condition) {
    return m_capabilities.Handle(msg, capability, m_state == State::Open, condition);
}

TW_UINT16 TestChartSession::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui,
                                          TW_UINT16* condition) {
    if (msg != MSG_ENABLEDS && msg != MSG_DISABLEDS) return FailWith(condition, TWCC_BADPROTOCOL);
    if (!ui) return FailWith(condition, TWCC_BADVALUE);
    if (msg == MSG_DISABLEDS) {
        // A batch whose pages were announced must be ended or reset first.
        if (m_state != State::Enabled) return FailWith(condition, TWCC_SEQERROR);
        StopBatch();
        DismissWindow();
        m_closeAfterBatch = false;
        m_state = State::Open;
        return TWRC_SUCCESS;
    }

    if (m_state != State::Open) return FailWith(condition, TWCC_SEQERROR);
    // Every notification goes to this window, so a source without one could never
    // announce its pages.
    HWND parent = static_cast<HWND>(ui->hParent);
    if (!IsWindow(parent)) return FailWith(condition, TWCC_BADVALUE);
    m_parent = parent;
    ui->ModalUI = FALSE;
    m_closeAfterBatch = false;
    if (ui->ShowUI) {
        if (!m_unattended && m_uiFactory) m_ui = m_uiFactory(*this, m_settings);
        if (m_ui) {
            m_state = State::Enabled;
            return TWRC_SUCCESS;
        }
        // Enabled with a user interface that nobody will see: scan, then ask to be closed.
        m_closeAfterBatch = true;
    }
    if (!StartBatch()) {
        m_closeAfterBatch = false;
        return FailWith(condition, TWCC_LOWMEMORY);
    }
    m_state = State::Enabled;
    return TWRC_SUCCESS;
}

TW_UINT16 TestChartSession::ProcessEvent(TW_EVENT* event, TW_UINT16* condition) {
    return ClaimNotification(event, m_parent, m_self.Id, m_state == State::TransferReady,
                             m_state == State::Open, condition);
}

TW_UINT16 TestChartSession::PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending,
                                             TW_UINT16* condition) {
    if (msg != MSG_GET && msg != MSG_ENDXFER && msg != MSG_RESET)
        return FailWith(condition, TWCC_BADPROTOCOL);
    if (!pending) return FailWith(condition, TWCC_BADVALUE);
    switch (msg) {
        case MSG_GET: pending->Count = static_cast<TW_UINT16>(m_pending); return TWRC_SUCCESS;
        case MSG_ENDXFER:
            if (m_state != State::TransferReady && m_state != State::Transferring)
                return FailWith(condition, TWCC_SEQERROR);
            return EndTransfer(pending);
        default:  // MSG_RESET
            if (m_state == State::Open) return FailWith(condition, TWCC_SEQERROR);
            StopBatch();
            m_state = State::Enabled;
            pending->Count = 0;
            return TWRC_SUCCESS;
    }
}

TW_UINT16 TestChartSession::EndTransfer(TW_PENDINGXFERS* pending) {
    // A page ended before its transfer is skipped: taken from the worker and dropped.
    if (!m_pageTaken) GlobalFree(m_worker->TakePage());
    m_pageTaken = false;
    --m_pending;
    pending->Count = static_cast<TW_UINT16>(m_pending);
    if (m_pending > 0) {
        m_state = State::TransferReady;
        return TWRC_SUCCESS;
    }
    StopBatch();
    m_state = State::Enabled;
    if (m_closeAfterBatch) Notify(MSG_CLOSEDSREQ);
    return TWRC_SUCCESS;
}

TW_UINT16 TestChartSession::ImageInfo(TW_IMAGEINFO* info, TW_UINT16* condition) {
    if (m_state != State::TransferReady && m_state != State::Transferring)
        return FailWith(condition, TWCC_SEQERROR);
    if (!info) return FailWith(condition, TWCC_BADVALUE);
    // The page being transferred: those before it have ended.
    *info = TestChartImageInfo(m_batchSettings.ForPage(m_batchSettings.pages - m_pending + 1));
    return TWRC_SUCCESS;
}

TW_UINT16 TestChartSession::NativeTransfer(TW_HANDLE* image, TW_UINT16* condition) {
    if (m_state != State::TransferReady) return FailWith(condition, TWCC_SEQERROR);
    if (!image) return FailWith(condition, TWCC_BADVALUE);
    // A page that could not be made stays unavailable until MSG_ENDXFER moves past it.
    if (m_pageTaken) return FailWith(condition, TWCC_LOWMEMORY);
    HGLOBAL page = m_worker->TakePage();
    m_pageTaken = true;
    if (!page) return FailWith(condition, TWCC_LOWMEMORY);
    *image = page;
    m_state = State::Transferring;
    return TWRC_XFERDONE;
}

bool TestChartSession::StartBatch() {
    m_batchSettings = m_settings;
    m_batchSettings.pages = m_capabilities.BatchPages();
    HWND parent = m_parent;
    const TW_UINT32 id = m_self.Id;
    try {
        m_worker = std::make_unique<TestChartWorker>(m_batchSettings, [parent, id] {
            if (IsWindow(parent))
                PostMessage(parent, kSourceNotifyMessage, MSG_XFERREADY, static_cast<LPARAM>(id));
        });
    } catch (const std::exception&) {
        return false;
    }
    m_pending = m_batchSettings.pages;
    m_pageTaken = false;
    m_lastProgress = TestChartProgress{0, m_pending, true};
    return true;
}

void TestChartSession::StopBatch() {
    if (m_worker) {
        m_lastProgress = TestChartProgress{m_worker->PagesMade(), m_worker->PagesAsked(), false};
        m_worker.reset();
    }
    m_pending = 0;
    m_pageTaken = false;
}

void TestChartSession::DismissWindow() {
    if (!m_ui) return;
    TestChartUi* ui = m_ui;
    m_ui = nullptr;
    ui->Dismiss();
}

void TestChartSession::Notify(TW_UINT16 message) {
    if (IsWindow(m_parent))
        PostMessage(m_parent, kSourceNotifyMessage, message, static_cast<LPARAM>(m_self.Id));
}

bool TestChartSession::StartScan(const TestChartSettings& settings) {
    std::lock_guard lock(m_mutex);
    if (SyncState() != State::Enabled || m_worker) return false;
    m_settings = settings;
    m_settings.dpi =
        std::clamp(m_settings.dpi, TestChartSettings::kMinDpi, TestChartSettings::kMaxDpi);
    m_settings.pages = std::clamp(m_settings.pages, 1, TestChartSettings::kMaxPages);
    return StartBatch();
}

void TestChartSession::RequestClose() {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Open) Notify(MSG_CLOSEDSREQ);
}

TestChartProgress TestChartSession::Progress() {
    std::lock_guard lock(m_mutex);
    if (m_worker) return TestChartProgress{m_worker->PagesMade(), m_worker->PagesAsked(), true};
    return m_lastProgress;
}

void TestChartSession::WindowGone(TestChartUi* ui) {
    std::lock_guard lock(m_mutex);
    if (m_ui == ui) m_ui = nullptr;
}
