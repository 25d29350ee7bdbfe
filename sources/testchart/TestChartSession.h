// One open session of the test-chart source: the triplets an application sends to an
// open source, from MSG_OPENDS to MSG_CLOSEDS, and the batch of pages under way.
//
// States: open (capabilities may be set), enabled (the window is up or a batch is
// being made), transfer ready (the first page of the batch is ready and
// MSG_XFERREADY was posted), transferring (a page was handed over, MSG_ENDXFER due).
// MSG_XFERREADY is posted as soon as the first page of a batch is ready; the worker
// stays a few pages ahead, and a transfer of a page still being made waits for it.
#pragma once

#include <memory>
#include <mutex>

#include "platform/Window.h"
#include "sources/common/SourceSessionTriplets.h"
#include "sources/testchart/TestChartCapabilities.h"
#include "sources/testchart/TestChartSettings.h"
#include "sources/testchart/TestChartUi.h"
#include "twain/TwainTypes.h"

class TestChartWorker;

class TestChartSession : public SourceSessionTriplets {
public:
    enum class State { Open, Enabled, TransferReady, Transferring };

    // self is the source's identity with the Id the DSM gave it. unattended: a source
    // enabled with its user interface scans at once and shows no window.
    TestChartSession(const TW_IDENTITY& self, const TestChartSettings& settings, bool unattended,
                     TestChartUiFactory uiFactory);
    // Stops the batch, frees every page not handed over and takes the window down.
    ~TestChartSession() override;
    TestChartSession(const TestChartSession&) = delete;
    TestChartSession& operator=(const TestChartSession&) = delete;

    // A triplet for the open source; a failure's condition code goes to *condition.
    TW_UINT16 Handle(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                     TW_UINT16* condition);
    State CurrentState();

    // From the window, on the application's thread.
    bool StartScan(const TestChartSettings& settings);  // false while a batch is under way
    void RequestClose();                                // posts MSG_CLOSEDSREQ
    TestChartProgress Progress();
    void WindowGone(TestChartUi* ui);  // the toolkit destroyed the window itself

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
    bool StartBatch();
    void StopBatch();
    void DismissWindow();
    void Notify(TW_UINT16 message);

    // Recursive: the toolkit may deliver a window event while the window is being made
    // or taken down inside a triplet, on the same thread.
    std::recursive_mutex m_mutex;
    TW_IDENTITY m_self;
    TestChartSettings m_settings;
    TestChartCapabilities m_capabilities;
    const bool m_unattended;
    TestChartUiFactory m_uiFactory;
    TestChartUi* m_ui = nullptr;
    HWND m_parent = nullptr;
    State m_state = State::Open;
    bool m_closeAfterBatch = false;  // enabled with a user interface that is not shown

    std::unique_ptr<TestChartWorker> m_worker;
    TestChartSettings m_batchSettings;
    int m_pending = 0;         // pages of the batch not yet ended
    bool m_pageTaken = false;  // the current page has left the worker
    TestChartProgress m_lastProgress;
};
