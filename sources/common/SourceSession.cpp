#include "sources/common/SourceSession.h"

#include "sources/common/SourceConditions.h"

SourceSession::SourceSession(const TW_IDENTITY& self, bool unattended, Rules rules)
    : m_self(self), m_unattended(unattended), m_rules(rules) {}

void SourceSession::EndSession() {
    std::lock_guard lock(m_mutex);
    StopBatch();
    DismissWindow();
}

SourceSession::State SourceSession::CurrentState() {
    std::lock_guard lock(m_mutex);
    return SyncState();
}

SourceSession::State SourceSession::SyncState() {
    if (m_state == State::Enabled && PagesReady()) m_state = State::TransferReady;
    return m_state;
}

TW_UINT16 SourceSession::Handle(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                                TW_UINT16* condition) {
    std::lock_guard lock(m_mutex);
    SyncState();
    return Route(dg, dat, msg, data, condition);
}

TW_UINT16 SourceSession::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16* condition) {
    if (msg != MSG_ENABLEDS && msg != MSG_DISABLEDS) return FailWith(condition, TWCC_BADPROTOCOL);
    if (!ui) return FailWith(condition, TWCC_BADVALUE);
    if (msg == MSG_ENABLEDS) return Enable(ui, condition);
    // A page handed over must be ended first.
    const bool waiting = m_state == State::TransferReady && m_rules.disableWithPagesWaiting;
    if (m_state != State::Enabled && !waiting) return FailWith(condition, TWCC_SEQERROR);
    StopBatch();
    DismissWindow();
    m_closeAfterBatch = false;
    m_state = State::Open;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceSession::Enable(TW_USERINTERFACE* ui, TW_UINT16* condition) {
    if (m_state != State::Open) return FailWith(condition, TWCC_SEQERROR);
    // Every notification goes to this window, so a source without one could never
    // announce its pages.
    HWND parent = static_cast<HWND>(ui->hParent);
    if (!IsWindow(parent)) return FailWith(condition, TWCC_BADVALUE);
    m_parent = parent;
    ui->ModalUI = FALSE;
    m_closeAfterBatch = false;
    if (ui->ShowUI) {
        if (!m_unattended) m_ui = OpenWindow();
        if (m_ui) {
            m_state = State::Enabled;
            return TWRC_SUCCESS;
        }
        m_closeAfterBatch = true;
    }
    if (!StartPages()) {
        m_closeAfterBatch = false;
        return FailWith(condition, TWCC_LOWMEMORY);
    }
    m_pageTaken = false;
    m_state = State::Enabled;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceSession::ProcessEvent(TW_EVENT* event, TW_UINT16* condition) {
    return ClaimNotification(event, m_parent, m_self.Id, m_state == State::TransferReady,
                             m_state == State::Open, condition);
}

TW_UINT16 SourceSession::PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending,
                                          TW_UINT16* condition) {
    if (msg != MSG_GET && msg != MSG_ENDXFER && msg != MSG_RESET)
        return FailWith(condition, TWCC_BADPROTOCOL);
    if (!pending) return FailWith(condition, TWCC_BADVALUE);
    switch (msg) {
        case MSG_GET: pending->Count = static_cast<TW_UINT16>(PagesPending()); return TWRC_SUCCESS;
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

TW_UINT16 SourceSession::EndTransfer(TW_PENDINGXFERS* pending) {
    // A page ended before its transfer is skipped: taken from the source and dropped.
    if (!m_pageTaken) GlobalFree(TakePage());
    m_pageTaken = false;
    const int remaining = EndPage();
    pending->Count = static_cast<TW_UINT16>(remaining);
    if (remaining > 0) {
        m_state = State::TransferReady;
        return TWRC_SUCCESS;
    }
    m_state = State::Enabled;
    if (m_rules.countedBatch) {
        StopBatch();
        if (m_closeAfterBatch) Notifier().Post(MSG_CLOSEDSREQ);
    }
    return TWRC_SUCCESS;
}

TW_UINT16 SourceSession::ImageInfo(TW_IMAGEINFO* info, TW_UINT16* condition) {
    const bool taken = m_state == State::Transferring && m_rules.describeTakenPage;
    if (m_state != State::TransferReady && !taken) return FailWith(condition, TWCC_SEQERROR);
    if (!info) return FailWith(condition, TWCC_BADVALUE);
    if (!DescribePage(info)) return FailWith(condition, TWCC_SEQERROR);
    return TWRC_SUCCESS;
}

TW_UINT16 SourceSession::NativeTransfer(TW_HANDLE* image, TW_UINT16* condition) {
    if (m_state != State::TransferReady) return FailWith(condition, TWCC_SEQERROR);
    if (!image) return FailWith(condition, TWCC_BADVALUE);
    // A page that could not be had stays unavailable until MSG_ENDXFER moves past it.
    if (m_pageTaken) return FailWith(condition, m_rules.noPageCondition);
    HGLOBAL page = TakePage();
    m_pageTaken = true;
    if (!page) return FailWith(condition, m_rules.noPageCondition);
    *image = page;
    m_state = State::Transferring;
    return TWRC_XFERDONE;
}

void SourceSession::StopBatch() {
    StopPages();
    m_pageTaken = false;
}

void SourceSession::DismissWindow() {
    if (!m_ui) return;
    SourceUi* ui = m_ui;
    m_ui = nullptr;
    ui->Dismiss();
}

void SourceSession::RequestClose() {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Open) Notifier().Post(MSG_CLOSEDSREQ);
}

void SourceSession::WindowGone(SourceUi* ui) {
    std::lock_guard lock(m_mutex);
    if (m_ui == ui) m_ui = nullptr;
}
