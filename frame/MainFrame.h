// The main frame: the MDI frame that holds the document windows, menu, toolbar and
// status bar, and at the same time Velomark's TWAIN client. It runs the channel
// poll and the TWAIN filter on every message the main loop handles, turns the
// menu's and the client's commands into TWAIN calls, hands each transferred image
// to the image hand-off and releases everything when it closes.
#pragma once

#include <wx/defs.h>  // before tabmdi.h, which tests wxUSE_AUI first
#include <wx/aui/tabmdi.h>
#include <wx/docview.h>
#include <wx/timer.h>

#include <deque>
#include <functional>
#include <memory>

#include "bridge/ChannelActions.h"
#include "bridge/CommandServer.h"
#include "bridge/ImageDocument.h"
#include "dib/Dib.h"
#include "frame/KeyIndicators.h"
#include "frame/RecentFilesMenu.h"
#include "frame/WaitingPages.h"
#include "platform/Window.h"
#include "twain/Twain.h"

class wxDocManager;

// The document windows are tabs with close buttons.
using CMainFrameBase = wxDocParentFrameAny<wxAuiMDIParentFrame>;

class CMainFrame : public CMainFrameBase,
                   public CTwain,
                   public velomark::ChannelActions,
                   public velomark::ImageDocumentFactory,
                   public velomark::CommandTarget {
public:
    // Opens the shared channel; the window comes with LoadFrame.
    CMainFrame();
    ~CMainFrame() override;

    // Creates the window from resource 128 and runs OnCreate. False when the window
    // or its bars could not be made.
    bool LoadFrame(wxDocManager* manager);

    // The per-message hook: the channel poll, then the TWAIN filter with a copy of
    // the message. Does nothing unless the frame may dispatch (CanDispatch).
    BOOL PreTranslateMessage(MSG* pMsg);

    // The frame whose per-message hook runs: from OnCreate's start of TWAIN until
    // the frame closes; null otherwise.
    static CMainFrame* HookedFrame() { return s_pHooked; }

    // The recent-file list changed: the File menu follows.
    void RefreshRecentFiles();

    // The TWAIN client's actions, shared by the menu and the channel.
    BOOL SelectSource() override;
    BOOL Acquire(int nImages) override;
    bool AcquisitionRunning() const override { return IsSourceEnabled() != FALSE; }

    // The command socket's side.
    void RunOnUiThread(std::function<void()> task) override;
    bool ExecuteCommand(uint16_t id) override;
    bool AcceptsStreams() override { return IsDsmOpen() != FALSE; }

    // Commands and update events that climb up from another top-level window (a
    // source's own window, whose parent the frame is) are not the frame's: they
    // would reach its document manager, whose File Close shares wxID_CLOSE with a
    // source's Close button.
    bool ProcessEvent(wxEvent& event) override;

    // Where the documents of acquired images come from.
    velomark::ImageDocument* OpenNewDocument() override;

protected:
    void ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info) override;
    // The project's "Select Source" dialog, for a DSM that has none of its own.
    std::optional<size_t> ChooseSource(const std::vector<TW_IDENTITY>& sources,
                                       size_t preselected) override;

private:
    int OnCreate();
    void OnFileSelectsource(wxCommandEvent& event);
    void OnUpdateFileSelectsource(wxUpdateUIEvent& event);
    void OnFileAcquire(wxCommandEvent& event);
    void OnUpdateFileAcquire(wxUpdateUIEvent& event);
    void OnGetDibBites(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnHeartbeat(wxTimerEvent& event);
    void OnViewToolbar(wxCommandEvent& event);
    void OnViewStatusBar(wxCommandEvent& event);
    void OnUpdateViewToolbar(wxUpdateUIEvent& event);
    void OnUpdateViewStatusBar(wxUpdateUIEvent& event);
    void OnUpdateRecentFile(wxUpdateUIEvent& event);
    void OnUpdateDisabled(wxUpdateUIEvent& event);
    // "Velomark - <document>" while a document is active, "Velomark" otherwise.
    void OnIdleTitle(wxIdleEvent& event);
    // "Page 3 of 10", or "Page 3" when the batch's size is unknown.
    wxString BatchProgressText() const;

    // True when the frame may run TWAIN and channel work now: hooked (TWAIN started,
    // not closing), not inside such work already, and on the main loop rather than a
    // modal dialog's.
    bool CanDispatch() const;
    // Hands the messages that sources posted to the filter, when it may.
    void DrainPosted();
    void RunDeferredTasks();
    bool IsCommandEnabled(int toolkitId);
    // Runs a command as the menu would: not when its update handler disables it.
    bool RouteMenuCommand(int toolkitId);
    void OnCharHook(wxKeyEvent& event);
    void OnActivate(wxActivateEvent& event);
    void ShowStatus(const wxString& text);
    // "3 images waiting for the client" while the count changes; the idle
    // message once none waits.
    void ShowWaitingImages();
    static wxString WaitingImagesText(size_t waiting);
    // Pages whose images left the outbox: sent ones need no save any more.
    void FollowWaitingPages();

    CDIB m_dibShared;
    MessageWindow m_twainWindow;
    wxTimer m_heartbeat;
    velomark::KeyIndicators m_indicators;
    std::unique_ptr<velomark::RecentFilesMenu> m_recentFiles;
    std::unique_ptr<velomark::CommandServer> m_commandServer;
    std::deque<std::function<void()>> m_deferredTasks;
    // The document OpenNewDocument made for the image being received.
    wxWeakRef<CVelomarkDoc> m_newPage;
    velomark::WaitingPages m_waitingPages;
    int m_nBusy = 0;
    size_t m_nImagesShownWaiting = 0;
    int m_nHeartbeats = 0;

    static CMainFrame* s_pHooked;
};
