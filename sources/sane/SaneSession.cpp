#include "sources/sane/SaneSession.h"

#include <exception>

#include "sources/sane/SaneConfigStore.h"
#include "sources/sane/SaneDevice.h"

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
    : SourceSession(self, unattended,
                    {.countedBatch = false,
                     .disableWithPagesWaiting = true,
                     .describeTakenPage = false,
                     .noPageCondition = TWCC_SEQERROR}),
      m_device(std::move(device)),
      m_settings(settings),
      m_capabilities(*m_device, m_settings),
      m_uiFactory(std::move(uiFactory)),
      m_log(log) {}

SaneSession::~SaneSession() {
    EndSession();
    m_device.reset();
}

size_t SaneSession::PagesWaiting() { return m_worker ? m_worker->PagesReady() : 0; }

int SaneSession::EndPage() {
    // Enabled without a window, the application ends the batch when the count falls
    // to 0: while a feeder's batch runs, the count waits for its next sheet or its end
    // instead of saying 0 between two sheets.
    if (m_worker && !HasWindow() && !ClosesAfterBatch())
        return static_cast<int>(m_worker->WaitForPageOrEnd());
    return static_cast<int>(PagesWaiting());
}

SaneCapabilities::Access SaneSession::CapabilityAccess() {
    // The worker alone speaks to the device while its batch runs.
    return {.setAllowed = CurrentStateLocked() == State::Open,
            .deviceFree = !m_worker || m_worker->Finished()};
}

TW_UINT16 SaneSession::Capability(TW_UINT16 msg, TW_CAPABILITY* capability, TW_UINT16* condition) {
    return m_capabilities.Handle(msg, capability, CapabilityAccess(), condition);
}

TW_UINT16 SaneSession::ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, TW_UINT16* condition) {
    return m_capabilities.Layout(msg, layout, CapabilityAccess(), condition);
}

SourceUi* SaneSession::OpenWindow() {
    return m_uiFactory ? m_uiFactory(*this, UiModel()) : nullptr;
}

SaneUiModel SaneSession::UiModel() {
    SaneUiModel model;
    model.title = Self().ProductName;
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

bool SaneSession::StartPages() { return StartBatch(false); }

bool SaneSession::StartBatch(bool fromWindow) {
    StopPages();
    const SourceNotifier notifier = Notifier();
    // Enabled without a window, the application closes the source after the pages it
    // was told of; a batch that ends otherwise (failed, an empty feeder) must ask, or
    // the application would wait for a page that never comes.
    const bool closeAfter = ClosesAfterBatch();
    const bool closeUnlessDone = !closeAfter && !fromWindow;
    std::ostream& log = m_log;
    const std::string device = m_device->Name();
    try {
        m_worker = std::make_unique<SaneScanWorker>(
            *m_device, m_settings, m_capabilities.TransferCount(),
            [notifier] { notifier.Post(MSG_XFERREADY); },
            [notifier, closeAfter, closeUnlessDone, &log, device](SaneBatchEnd end,
                                                                  const std::string& message) {
                if (!message.empty() || end == SaneBatchEnd::Failed ||
                    end == SaneBatchEnd::FeederEmpty)
                    log << "velomark-sane: " << device << ": " << EndText(end)
                        << (message.empty() ? "" : ": ") << message << std::endl;
                if (closeAfter || (closeUnlessDone && end != SaneBatchEnd::Done))
                    notifier.Post(MSG_CLOSEDSREQ);
            });
    } catch (const std::exception&) {
        return false;
    }
    m_lastProgress = SaneScanProgress{};
    return true;
}

void SaneSession::StopPages() {
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
        m_lastProgress.message,
        m_lastProgress.failure};
}

bool SaneSession::StartScan(const SaneSettings& settings) {
    auto lock = Lock();
    if (SyncState() != State::Enabled || (m_worker && !m_worker->Finished())) return false;
    m_settings = settings;
    std::string error;
    if (!SaneConfigStore::Save(m_device->Name(), m_settings, &error))
        m_log << "velomark-sane: cannot remember the options: " << error << std::endl;
    return StartBatch(true);
}

void SaneSession::CancelScan() {
    auto lock = Lock();
    if (m_worker) m_worker->Cancel();
}

std::string SaneSession::BatchFailure() {
    const SaneScanProgress progress = Progress();
    return progress.end == SaneBatchEnd::Failed ? progress.failure : std::string();
}

SaneScanProgress SaneSession::Progress() {
    auto lock = Lock();
    return m_worker ? m_worker->Progress() : m_lastProgress;
}
