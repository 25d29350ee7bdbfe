#include "sources/sane/SaneSession.h"

#include <exception>

#include "platform/GlobalMemory.h"
#include "sources/common/SourceConditions.h"
#include "sources/sane/SaneConfigStore.h"
#include "sources/sane/SaneDevice.h"
#include "twain/DataSource.h"

namespace {

const char* EndText(SaneBatchEnd end) {
    switch (end) {
        case SaneBatchEnd::FeederEmpty: return "the document feeder is empty";
        case SaneBatchEnd::Cancelled: return "cancelled";
        case SaneBatchEnd::Failed: return "failed";
        default: return "done";
    }
}

}  // namespace

SaneSession::SaneSession(const TW_IDENTITY& self, std::unique_ptr<SaneDevice> device,
                         const SaneSettings& settings, bool unattended, SaneUiFactory uiFactory,
                         std::ostream& log)
    : m_self(self),
      m_device(std::move(device)),
      m_settings(settings),
      m_unattended(unattended),
      m_uiFactory(std::move(uiFactory)),
      m_log(log) {}

SaneSession::~SaneSession() {
    std::lock_guard lock(m_mutex);
    StopBatch();
    DismissWindow();
    m_device.reset();
}

SaneSession::State SaneSession::CurrentState() {
    std::lock_guard lock(m_mutex);
    return SyncState();
}

size_t SaneSession::PagesWaiting() { return m_worker ? m_worker->PagesReady() : 0; }

SaneSession::State SaneSession::SyncState() {
    if (m_state == State::Enabled && PagesWaiting() > 0) m_state = State::TransferReady;
    return m_state;
}

TW_UINT16 SaneSession::Handle(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                              TW_UINT16* condition) {
    std::lock_guard lock(m_mutex);
    SyncState();
    return Route(dg, dat, msg, data, condition);
}

TW_UINT16 SaneSession::Capability(TW_UINT16 msg, TW_CAPABILITY* capability, TW_UINT16* condition) {
    return m_capabilities.Handle(msg, capability, m_state == State::Open, condition);
}

TW_UINT16 SaneSession::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16* condition) {
    if (msg != MSG_ENABLEDS && msg != MSG_DISABLEDS) return FailWith(condition, TWCC_BADPROTOCOL);
    if (!ui) return FailWith(condition, TWCC_BADVALUE);
    if (msg == MSG_DISABLEDS) {
        // Pages scanned but not yet announced go with the batch; a page handed over
        // must be ended first.
        if (m_state != State::Enabled && m_state != State::TransferReady)
            return FailWith(condition, TWCC_SEQERROR);
        StopBatch();
        DismissWindow();
        m_closeAfterBatch = false;
        m_state = State::Open;
        return TWRC_SUCCESS;
    }

    if (m_state != State::Open) return FailWith(condition, TWCC_SEQERROR);
    HWND parent = static_cast<HWND>(ui->hParent);
    if (!IsWindow(parent)) return FailWith(condition, TWCC_BADVALUE);
    m_parent = parent;
    ui->ModalUI = FALSE;
    m_closeAfterBatch = false;
    if (ui->ShowUI) {
        if (!m_unattended && m_uiFactory) m_ui = m_uiFactory(*this, UiModel());
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

SaneUiModel SaneSession::UiModel() {
    SaneUiModel model;
    model.title = m_self.ProductName;
    model.deviceName = m_device->Name();
    model.choices = m_device->Choices();
    model.settings = m_settings;
    for (const char* name : {"mode", "resolution", "source", "tl-x", "tl-y", "br-x", "br-y"}) {
        std::string value;
        if (!model.settings.Find(name) && m_device->GetOption(name, &value))
            model.settings.Set(name, value);
    }
    return model;
}

TW_UINT16 SaneSession::ProcessEvent(TW_EVENT* event, TW_UINT16* condition) {
    return ClaimNotification(event, m_parent, m_self.Id, m_state == State::TransferReady,
                             m_state == State::Open, condition);
}

TW_UINT16 SaneSession::PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending,
                                        TW_UINT16* condition) {
    if (msg != MSG_GET && msg != MSG_ENDXFER && msg != MSG_RESET)
        return FailWith(condition, TWCC_BADPROTOCOL);
    if (!pending) return FailWith(condition, TWCC_BADVALUE);
    switch (msg) {
        case MSG_GET: pending->Count = static_cast<TW_UINT16>(PagesWaiting()); return TWRC_SUCCESS;
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

TW_UINT16 SaneSession::EndTransfer(TW_PENDINGXFERS* pending) {
    // A page ended before its transfer is skipped: taken from the worker and dropped.
    if (m_state == State::TransferReady) GlobalFree(m_worker->TakePage());
    const size_t waiting = PagesWaiting();
    pending->Count = static_cast<TW_UINT16>(waiting);
    m_state = waiting > 0 ? State::TransferReady : State::Enabled;
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSession::ImageInfo(TW_IMAGEINFO* info, TW_UINT16* condition) {
    if (m_state != State::TransferReady) return FailWith(condition, TWCC_SEQERROR);
    if (!info) return FailWith(condition, TWCC_BADVALUE);
    if (!m_worker->PeekInfo(info)) return FailWith(condition, TWCC_SEQERROR);
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSession::NativeTransfer(TW_HANDLE* image, TW_UINT16* condition) {
    if (m_state != State::TransferReady) return FailWith(condition, TWCC_SEQERROR);
    if (!image) return FailWith(condition, TWCC_BADVALUE);
    HGLOBAL page = m_worker->TakePage();
    if (!page) return FailWith(condition, TWCC_SEQERROR);
    *image = page;
    m_state = State::Transferring;
    return TWRC_XFERDONE;
}

bool SaneSession::StartBatch() {
    StopBatch();
    HWND parent = m_parent;
    const TW_UINT32 id = m_self.Id;
    const bool closeAfter = m_closeAfterBatch;
    std::ostream& log = m_log;
    const std::string device = m_device->Name();
    try {
        m_worker = std::make_unique<SaneScanWorker>(
            *m_device, m_settings, m_capabilities.TransferCount(),
            [parent, id] {
                if (IsWindow(parent))
                    PostMessage(parent, kSourceNotifyMessage, MSG_XFERREADY, LPARAM(id));
            },
            [parent, id, closeAfter, &log, device](SaneBatchEnd end, const std::string& message) {
                if (!message.empty() || end == SaneBatchEnd::Failed ||
                    end == SaneBatchEnd::FeederEmpty)
                    log << "velomark-sane: " << device << ": " << EndText(end)
                        << (message.empty() ? "" : ": ") << message << std::endl;
                if (closeAfter && IsWindow(parent))
                    PostMessage(parent, kSourceNotifyMessage, MSG_CLOSEDSREQ, LPARAM(id));
            });
    } catch (const std::exception&) {
        return false;
    }
    m_lastProgress = SaneScanProgress{};
    return true;
}

void SaneSession::StopBatch() {
    if (!m_worker) return;
    m_worker->Cancel();
    m_lastProgress = m_worker->Progress();
    m_worker.reset();
    m_lastProgress = SaneScanProgress{
        false,
        m_lastProgress.pagesScanned,
        0,
        0,
        m_lastProgress.end == SaneBatchEnd::Running ? SaneBatchEnd::Cancelled : m_lastProgress.end,
        m_lastProgress.message};
}

void SaneSession::DismissWindow() {
    if (!m_ui) return;
    SaneUi* ui = m_ui;
    m_ui = nullptr;
    ui->Dismiss();
}

void SaneSession::Notify(TW_UINT16 message) {
    if (IsWindow(m_parent))
        PostMessage(m_parent, kSourceNotifyMessage, message, static_cast<LPARAM>(m_self.Id));
}

bool SaneSession::StartScan(const SaneSettings& settings) {
    std::lock_guard lock(m_mutex);
    if (SyncState() != State::Enabled || (m_worker && !m_worker->Finished())) return false;
    m_settings = settings;
    std::string error;
    if (!SaneConfigStore::Save(m_device->Name(), m_settings, &error))
        m_log << "velomark-sane: cannot remember the options: " << error << std::endl;
    return StartBatch();
}

void SaneSession::CancelScan() {
    std::lock_guard lock(m_mutex);
    if (m_worker) m_worker->Cancel();
}

void SaneSession::RequestClose() {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Open) Notify(MSG_CLOSEDSREQ);
}

SaneScanProgress SaneSession::Progress() {
    std::lock_guard lock(m_mutex);
    return m_worker ? m_worker->Progress() : m_lastProgress;
}

void SaneSession::WindowGone(SaneUi* ui) {
    std::lock_guard lock(m_mutex);
    if (m_ui == ui) m_ui = nullptr;
}
