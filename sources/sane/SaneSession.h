// One open session of a SANE source: the triplets an application sends to an open
// source, from MSG_OPENDS to MSG_CLOSEDS, and the batch under way.
//
// States: open (capabilities may be set), enabled (the window is up or a batch is
// being scanned), transfer ready (a scanned page waits), transferring (a page was
// handed over, MSG_ENDXFER due). The worker posts MSG_XFERREADY after every page it
// queues; asked about it, the session claims it as MSG_XFERREADY while a page waits
// and as MSG_NULL otherwise. MSG_ENDXFER reports the pages already scanned and not yet
// taken, so the application never waits for the scanner: when it reaches 0 while the
// scanner goes on, the next page's MSG_XFERREADY starts the transfers again. Without a
// window (unattended, or no graphical application) the worker posts MSG_CLOSEDSREQ
// after the batch.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>

#include "platform/Window.h"
#include "sources/common/SourceSessionTriplets.h"
#include "sources/sane/SaneCapabilities.h"
#include "sources/sane/SaneScanWorker.h"
#include "sources/sane/SaneSettings.h"
#include "sources/sane/SaneUi.h"
#include "twain/TwainTypes.h"

class SaneDevice;

class SaneSession : public SourceSessionTriplets {
public:
    enum class State { Open, Enabled, TransferReady, Transferring };

    // self is the source's identity with the Id the DSM gave it; settings are the
    // options a batch starts from. unattended: enabled with its user interface, the
    // source scans at once and shows no window.
    SaneSession(const TW_IDENTITY& self, std::unique_ptr<SaneDevice> device,
                const SaneSettings& settings, bool unattended, SaneUiFactory uiFactory,
                std::ostream& log);
    // Stops the batch, frees every page not handed over, takes the window down and
    // closes the device.
    ~SaneSession() override;
    SaneSession(const SaneSession&) = delete;
    SaneSession& operator=(const SaneSession&) = delete;

    TW_UINT16 Handle(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                     TW_UINT16* condition);
    State CurrentState();

    // From the window, on the application's thread.
    bool StartScan(const SaneSettings& settings);  // remembers them; false while scanning
    void CancelScan();                             // returns at once
    void RequestClose();                           // posts MSG_CLOSEDSREQ
    SaneScanProgress Progress();
    void WindowGone(SaneUi* ui);  // the toolkit destroyed the window itself

private:
    TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* capability, TW_UINT16* condition) override;
    TW_UINT16 UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16* condition) override;
    TW_UINT16 ProcessEvent(TW_EVENT* event, TW_UINT16* condition) override;
    TW_UINT16 PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending,
                               TW_UINT16* condition) override;
    TW_UINT16 ImageInfo(TW_IMAGEINFO* info, TW_UINT16* condition) override;
    TW_UINT16 NativeTransfer(TW_HANDLE* image, TW_UINT16* condition) override;
    TW_UINT16 EndTransfer(TW_PENDINGXFERS* pending);

    // Called with m_mutex held.
    State SyncState();
    SaneUiModel UiModel();
    bool StartBatch();
    void StopBatch();
    void DismissWindow();
    void Notify(TW_UINT16 message);
    size_t PagesWaiting();

    std::recursive_mutex m_mutex;
    TW_IDENTITY m_self;
    std::unique_ptr<SaneDevice> m_device;
    SaneSettings m_settings;
    SaneCapabilities m_capabilities;
    const bool m_unattended;
    SaneUiFactory m_uiFactory;
    std::ostream& m_log;
    SaneUi* m_ui = nullptr;
    HWND m_parent = nullptr;
    State m_state = State::Open;
    bool m_closeAfterBatch = false;  // enabled with a user interface that is not shown

    std::unique_ptr<SaneScanWorker> m_worker;  // the batch under way, or the last one
    SaneScanProgress m_lastProgress;           // of a batch stopped and gone
};
