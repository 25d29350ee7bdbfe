// One open session of a SANE source: the device, the batches scanned from it, the
// capabilities and the image layout; the states and triplets are SourceSession's. What
// the application negotiates goes onto the device and into the settings the next batch
// starts from, so that the batch scans with it.
//
// The worker posts MSG_XFERREADY after every page it queues; asked about it, the
// session claims it as MSG_XFERREADY while a page waits and as MSG_NULL otherwise.
// MSG_ENDXFER reports the pages already scanned and not yet taken, so the application
// never waits for the scanner: when it reaches 0 while the scanner goes on, the next
// page's MSG_XFERREADY starts the transfers again. Without a window (unattended, or no
// graphical application) the worker posts MSG_CLOSEDSREQ after the batch; enabled
// without its user interface, after a batch that failed or found the feeder empty.
#pragma once

#include <memory>
#include <ostream>

#include "sources/common/SourceSession.h"
#include "sources/sane/SaneCapabilities.h"
#include "sources/sane/SaneScanWorker.h"
#include "sources/sane/SaneSettings.h"
#include "sources/sane/SaneUi.h"

class SaneDevice;

class SaneSession : public SourceSession {
public:
    // self is the source's identity with the Id the DSM gave it; settings are the
    // options a batch starts from. unattended: enabled with its user interface, the
    // source scans at once and shows no window.
    SaneSession(const TW_IDENTITY& self, std::unique_ptr<SaneDevice> device,
                const SaneSettings& settings, bool unattended, SaneUiFactory uiFactory,
                std::ostream& log);
    // Stops the batch, frees every page not handed over, takes the window down and
    // closes the device.
    ~SaneSession() override;

    // From the window, on the application's thread.
    bool StartScan(const SaneSettings& settings);  // remembers them; false while scanning
    void CancelScan();                             // returns at once
    SaneScanProgress Progress();
    // Why the last batch failed; "" when it did not.
    std::string BatchFailure();

private:
    TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* capability, TW_UINT16* condition) override;
    TW_UINT16 ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, TW_UINT16* condition) override;
    SaneCapabilities::Access CapabilityAccess();
    SourceUi* OpenWindow() override;
    bool StartPages() override;
    // fromWindow: the person pressed Scan in the source's window.
    bool StartBatch(bool fromWindow);
    void StopPages() override;
    bool PagesReady() override { return PagesWaiting() > 0; }
    int PagesPending() override { return static_cast<int>(PagesWaiting()); }
    bool DescribePage(TW_IMAGEINFO* info) override { return m_worker->PeekInfo(info); }
    HGLOBAL TakePage() override { return m_worker->TakePage(); }
    int EndPage() override;

    SaneUiModel UiModel();
    size_t PagesWaiting();

    std::unique_ptr<SaneDevice> m_device;
    // What the next batch sets on the device: remembered, given, negotiated, chosen in
    // the window.
    SaneSettings m_settings;
    SaneCapabilities m_capabilities;  // sets the device's options into m_settings
    SaneUiFactory m_uiFactory;
    std::ostream& m_log;

    std::unique_ptr<SaneScanWorker> m_worker;  // the batch under way, or the last one
    SaneScanProgress m_lastProgress;           // of a batch stopped and gone
};
