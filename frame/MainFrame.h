// The main frame: the MDI frame that holds the document windows, menu, toolbar and
// status bar. It owns the acquisition engine, which holds Velomark's TWAIN session,
// and drives it: a turn on every message the main loop handles, the menu's TWAIN
// commands. It gives the engine its documents, its menu commands, the source list
// and the status bar, and releases everything when it closes.
#pragma once

#include <wx/defs.h>  // before tabmdi.h, which tests wxUSE_AUI first
#include <wx/aui/tabmdi.h>
#include <wx/docview.h>
#include <wx/timer.h>

#include <deque>
#include <memory>
#include <string>

#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "frame/ArrivingPage.h"
#include "frame/KeyIndicators.h"
#include "frame/RecentFilesMenu.h"
#include "frame/ScannerSharing.h"
#include "frame/WaitingPages.h"
#include "platform/Window.h"

class wxDocManager;

// The document windows are tabs with close buttons.
using CMainFrameBase = wxDocParentFrameAny<wxAuiMDIParentFrame>;

class CMainFrame : public CMainFrameBase, public velomark::EngineHost {
public:
    // Opens the shared channel; the window comes with LoadFrame.
    CMainFrame();
    ~CMainFrame() override;

    // Creates the window from resource 128 and runs OnCreate. False when the window
    // or its bars could not be made.
    bool LoadFrame(wxDocManager* manager);

    // The per-message hook: one turn of the engine (the poll, the clients' commands,
    // the sources' posted messages through the TWAIN filter), when its re-entry rule
    // lets it run.
    BOOL PreTranslateMessage(MSG* pMsg);

    // The frame whose per-message hook runs: from OnCreate's start of TWAIN until
    // the frame closes; null otherwise.
    static CMainFrame* HookedFrame() { return s_pHooked; }
    velomark::AcquisitionEngine& Engine() { return m_engine; }
    // File > Share Scanners on the Network.
    velomark::ScannerSharing& Sharing() { return m_sharing; }

    // The recent-file list changed: the File menu follows.
    void RefreshRecentFiles();

    // Runs a command as a client's command runs: the engine's own, or as the menu
    // would (not when its update handler disables it).
    bool ExecuteCommand(uint16_t id) { return m_engine.ExecuteCommand(id); }

    // The engine's host.
    bool CommandEnabled(uint16_t id) override;
    bool RunCommand(uint16_t id) override;
    void Wake() override;
    bool OnMainLoop() const override;
    void Notice(const std::string& text) override;

    // Commands and update events that climb up from another top-level window (a
    // source's own window, whose parent the frame is) are not the frame's: they
    // would reach its document manager, whose File Close shares wxID_CLOSE with a
    // source's Close button.
    bool ProcessEvent(wxEvent& event) override;

    // Where acquired images go: a page whose window is made after the batch's
    // transfer (ShowArrivedPages).
    velomark::ImageDocument* OpenNewDocument() override;
    // The status bar's word for each page, and the pages that wait for the client.
    void PageReceived(const TW_IMAGEINFO& info, velomark::PublishResult result,
                      velomark::ImageDocument* page) override;
    // The project's "Select Source" dialog, for a DSM that has none of its own.
    std::optional<size_t> ChooseFromList(const std::vector<std::string>& names,
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
    // The event log's line for each image received.
    static void ReportImage(const TW_IMAGEINFO& info, velomark::PublishResult result);
    // "Page 3 of 10", or "Page 3" when the batch's size is unknown.
    wxString BatchProgressText() const;

    // A whole turn of the engine, when its rule lets it run.
    void TurnEngine();
    // Makes the windows of the pages that arrived, oldest first, at the outermost
    // level of the main loop (or now, when `always`): each takes its bitmap over.
    void ShowArrivedPages(bool always = false);
    // A new untitled page document with its window; null when none could be made.
    CVelomarkDoc* NewPageDocument();
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
    // Pages whose images the client took need no save any more.
    void FollowWaitingPages();

    velomark::AcquisitionEngine m_engine;
    velomark::ScannerSharing m_sharing;
    wxTimer m_heartbeat;
    velomark::KeyIndicators m_indicators;
    std::unique_ptr<velomark::RecentFilesMenu> m_recentFiles;
    velomark::WaitingPages m_waitingPages;
    std::deque<std::unique_ptr<velomark::ArrivingPage>> m_arrivingPages;
    bool m_showingScheduled = false;
    size_t m_nImagesShownWaiting = 0;
    int m_nHeartbeats = 0;

    static CMainFrame* s_pHooked;
};
