// One open session of a data source: the triplets an application sends to an open
// source, from MSG_OPENDS to MSG_CLOSEDS. It owns the states, enabling and disabling,
// the window's life, MSG_PROCESSEVENT, the pending transfers and their end; the source
// supplies its capabilities, its window and its pages.
//
// States: open (capabilities may be set), enabled (the window is up or a batch is under
// way), transfer ready (a page of the batch is ready and MSG_XFERREADY was posted),
// transferring (a page was handed over, MSG_ENDXFER due). A source enabled with its
// user interface but unattended, or with no window to show, starts its batch at once
// and asks to be closed after it.
#pragma once

#include <mutex>

#include "platform/GlobalMemory.h"
#include "sources/common/SourceNotifier.h"
#include "sources/common/SourceSessionTriplets.h"
#include "sources/common/SourceUi.h"
#include "twain/TwainTypes.h"

class SourceSession : public SourceSessionTriplets {
public:
    enum class State { Open, Enabled, TransferReady, Transferring };

    // Where the two sources' batches differ.
    struct Rules {
        // The batch's page count is known when it starts: the last MSG_ENDXFER ends the
        // batch, and a session with no window shown then asks to be closed. Otherwise
        // the source says when its batch has ended (see Notifier()).
        bool countedBatch = false;
        // MSG_DISABLEDS while pages wait but none was handed over drops them with the
        // batch; otherwise it is refused until they are ended or reset.
        bool disableWithPagesWaiting = false;
        // DAT_IMAGEINFO still describes the page handed over, until MSG_ENDXFER.
        bool describeTakenPage = false;
        // A page that cannot be handed over (none came, or memory was short).
        TW_UINT16 noPageCondition = TWCC_SEQERROR;
    };

    SourceSession(const SourceSession&) = delete;
    SourceSession& operator=(const SourceSession&) = delete;

    // A triplet for the open source; a failure's condition code goes to *condition.
    TW_UINT16 Handle(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                     TW_UINT16* condition);
    State CurrentState();

    // From the window, on the application's thread.
    void RequestClose();            // posts MSG_CLOSEDSREQ
    void WindowGone(SourceUi* ui);  // the toolkit destroyed the window itself

protected:
    // self is the source's identity with the Id the DSM gave it. unattended: a source
    // enabled with its user interface starts at once and shows no window.
    SourceSession(const TW_IDENTITY& self, bool unattended, Rules rules);
    ~SourceSession() override = default;

    // Stops the batch, frees every page not handed over and takes the window down; a
    // source's destructor calls it while its pages can still be stopped.
    void EndSession();

    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(m_mutex); }
    // The rest is called with the lock held.
    State SyncState();
    State CurrentStateLocked() const { return m_state; }
    const TW_IDENTITY& Self() const { return m_self; }
    SourceNotifier Notifier() const { return {m_parent, m_self.Id}; }
    // Enabled with a user interface that nobody sees: ask to be closed after the batch.
    bool ClosesAfterBatch() const { return m_closeAfterBatch; }
    bool HasWindow() const { return m_ui != nullptr; }

    // The source's part. OpenWindow: the window for an enabled session, or null when
    // none can be shown. StartPages: a batch begins (false when it cannot); StopPages:
    // it stops, its pages not handed over are freed. PagesReady: a page can be handed
    // over. PagesPending: the count MSG_GET reports. DescribePage: the page to be (or
    // being) handed over. TakePage: hands it over, null when it cannot be had.
    // EndPage: the page is done; the pages still to come.
    virtual SourceUi* OpenWindow() = 0;
    virtual bool StartPages() = 0;
    virtual void StopPages() = 0;
    virtual bool PagesReady() = 0;
    virtual int PagesPending() = 0;
    virtual bool DescribePage(TW_IMAGEINFO* info) = 0;
    virtual HGLOBAL TakePage() = 0;
    virtual int EndPage() = 0;

private:
    TW_UINT16 UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16* condition) override;
    TW_UINT16 Enable(TW_USERINTERFACE* ui, TW_UINT16* condition);
    TW_UINT16 ProcessEvent(TW_EVENT* event, TW_UINT16* condition) override;
    TW_UINT16 PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending,
                               TW_UINT16* condition) override;
    TW_UINT16 EndTransfer(TW_PENDINGXFERS* pending);
    TW_UINT16 ImageInfo(TW_IMAGEINFO* info, TW_UINT16* condition) override;
    TW_UINT16 NativeTransfer(TW_HANDLE* image, TW_UINT16* condition) override;
    void StopBatch();
    void DismissWindow();

    // Recursive: the toolkit may deliver a window event while the window is being made
    // or taken down inside a triplet, on the same thread.
    std::recursive_mutex m_mutex;
    const TW_IDENTITY m_self;
    const bool m_unattended;
    const Rules m_rules;
    SourceUi* m_ui = nullptr;
    HWND m_parent = nullptr;
    State m_state = State::Open;
    bool m_closeAfterBatch = false;
    bool m_pageTaken = false;  // the current page has left the source
};
