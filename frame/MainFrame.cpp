#include "frame/MainFrame.h"

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/aui/auibook.h>
#include <wx/docview.h>
#include <wx/evtloop.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/ChannelLayout.h"
#include "bridge/ChannelOutbox.h"
#include "bridge/SharedChannel.h"
#include "bridge/ImageHandoff.h"
#include "docview/VelomarkCanvas.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"
#include "dsm/SourceSelectDialog.h"
#include "frame/EventLog.h"
#include "twain/UnattendedSetting.h"
#include "res/CommandMap.h"
#include "res/MainFrameResources.h"
#include "res/ResourceIds.h"
#include "res/StringTable.h"

namespace {

using namespace velomark::res;

constexpr int kHeartbeatMs = 20;
// The lock-key panes are read every this many heartbeats.
constexpr int kIndicatorEvery = 10;
constexpr long kToolBarStyle = wxTB_HORIZONTAL | wxTB_FLAT | wxTB_TOP;
// A close button on every tab; tabs stay in one row (no splitting by dragging).
constexpr long kTabsAdded = wxAUI_NB_CLOSE_ON_ALL_TABS;
constexpr long kTabsRemoved = wxAUI_NB_CLOSE_ON_ACTIVE_TAB | wxAUI_NB_TAB_SPLIT |
                              wxAUI_NB_TAB_EXTERNAL_MOVE;

}  // namespace

CMainFrame* CMainFrame::s_pHooked = nullptr;

CMainFrame::CMainFrame()
    : m_engine(*this),
      m_sharing(m_engine, [this](const std::string& text) { ShowStatus(wxString::FromUTF8(text)); }),
      m_heartbeat(this) {
    m_engine.OpenChannel();
    // Without the channel (no room in /dev/shm, say) Velomark runs on: documents,
    // and the command socket, still work.
    if (!m_engine.ChannelError().empty())
        std::fprintf(stderr, "velomark: the client's channel is off: %s\n",
                     m_engine.ChannelError().c_str());
}

CMainFrame::~CMainFrame() {
    if (s_pHooked == this) s_pHooked = nullptr;
    m_heartbeat.Stop();
    m_engine.Stop();
}

bool CMainFrame::LoadFrame(wxDocManager* manager) {
    // Menu 128 carries its own Window menu.
    if (!Create(manager, nullptr, wxID_ANY, LoadResourceString(IDR_MAINFRAME), wxDefaultPosition,
                wxSize(900, 700), wxDEFAULT_FRAME_STYLE | wxFRAME_NO_WINDOW_MENU))
        return false;
    if (wxAuiNotebook* tabs = GetNotebook())
        tabs->SetWindowStyleFlag((tabs->GetWindowStyleFlag() | kTabsAdded) & ~kTabsRemoved);
    return OnCreate() == 0;
}

int CMainFrame::OnCreate() {
    SetIcon(AppIcon());
    wxMenuBar* menuBar = BuildMenuBar();
    SetMenuBar(menuBar);
    SetAcceleratorTable(BuildAcceleratorTable());
    m_recentFiles = std::make_unique<velomark::RecentFilesMenu>(*menuBar->GetMenu(0));
    RefreshRecentFiles();

    wxToolBar* toolBar = CreateToolBar(kToolBarStyle, ToolkitId(ID_VIEW_TOOLBAR));
    if (!toolBar || !LoadToolBar(*toolBar)) return -1;
    wxStatusBar* statusBar = CreateStatusBar(1, wxSTB_DEFAULT_STYLE, ToolkitId(ID_VIEW_STATUS_BAR));
    if (!statusBar) return -1;
    velomark::KeyIndicators::SetIndicators(*statusBar);
    m_indicators.Update(*statusBar);

    Bind(wxEVT_MENU, &CMainFrame::OnFileSelectsource, this, ToolkitId(ID_FILE_SELECTSOURCE));
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateFileSelectsource, this,
         ToolkitId(ID_FILE_SELECTSOURCE));
    Bind(wxEVT_MENU, &CMainFrame::OnFileAcquire, this, ToolkitId(ID_FILE_ACQUIRE));
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateFileAcquire, this, ToolkitId(ID_FILE_ACQUIRE));
    Bind(wxEVT_MENU, &CMainFrame::OnGetDibBites, this, ToolkitId(ID_GET_DIB_BITES));
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent& event) { m_sharing.Share(event.IsChecked(), true); },
        ToolkitId(ID_FILE_SHARE_SCANNERS));
    Bind(
        wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& event) { event.Check(m_sharing.Sharing()); },
        ToolkitId(ID_FILE_SHARE_SCANNERS));
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_TIMER, &CMainFrame::OnHeartbeat, this);
    Bind(wxEVT_CHAR_HOOK, &CMainFrame::OnCharHook, this);
    Bind(wxEVT_ACTIVATE, &CMainFrame::OnActivate, this);
    Bind(wxEVT_IDLE, &CMainFrame::OnIdleTitle, this);
    Bind(wxEVT_MENU, &CMainFrame::OnViewToolbar, this, ToolkitId(ID_VIEW_TOOLBAR));
    Bind(wxEVT_MENU, &CMainFrame::OnViewStatusBar, this, ToolkitId(ID_VIEW_STATUS_BAR));
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateViewToolbar, this, ToolkitId(ID_VIEW_TOOLBAR));
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateViewStatusBar, this, ToolkitId(ID_VIEW_STATUS_BAR));
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateRecentFile, this, wxID_FILE1, wxID_FILE9);
    // Commands nothing handles stay disabled, also on the toolbar and the keys.
    for (unsigned id :
         {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_NEXT_PANE, ID_PREV_PANE})
        Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateDisabled, this, ToolkitId(id));

    const bool twain = m_engine.StartTwain();
    s_pHooked = this;
    if (!twain) {
        velomark::ReportEvent("box Unable to load Twain Driver.");
        wxMessageBox("Unable to load Twain Driver.", LoadResourceString(AFX_IDS_APP_TITLE), wxOK,
                     this);
        velomark::ReportEvent("box-closed");
    }

    std::string reason;
    if (m_engine.StartCommands(&reason)) {
        velomark::ReportEvent("ready " + m_engine.SocketPath());
    } else {
        // A second Velomark, or an unusable runtime folder: the channel still works.
        std::fprintf(stderr, "velomark: command socket: %s\n", reason.c_str());
        ShowStatus(wxString::FromUTF8("Commands from clients are off: " + reason));
        velomark::ReportEvent("ready -");
    }
    const std::string& channelError = m_engine.ChannelError();
    if (!channelError.empty())
        ShowStatus(wxString::FromUTF8("The client's channel is off: " + channelError));
    m_heartbeat.Start(kHeartbeatMs);
    return 0;
}

BOOL CMainFrame::PreTranslateMessage(MSG* pMsg) {
    // The toolkit's own events are never a source's: the messages the sources posted
    // go to the TWAIN filter in a turn of the frame's own (TurnEngine). Only a source
    // that answers nothing but MSG_PROCESSEVENT is offered this event too.
    if (!m_engine.MayTurn()) return FALSE;
    m_engine.Poll(pMsg);
    FollowWaitingPages();
    return FALSE;
}

// Runs as an event of the frame's own, never inside the handling of another event:
// a client's command may close documents whose windows that event would still use.
void CMainFrame::TurnEngine() {
    if (!m_engine.MayTurn()) return;
    m_engine.Turn();
    ShowArrivedPages();
    FollowWaitingPages();
}

void CMainFrame::ShowArrivedPages(bool always) {
    m_showingScheduled = false;
    if (m_arrivingPages.empty() || (!always && !m_engine.MayTurn())) return;
    // Windows made here must not start a turn of their own.
    const velomark::AcquisitionEngine::Nested nested;
    // The pages before these are followed first: the counts then speak of them only.
    FollowWaitingPages();
    while (!m_arrivingPages.empty()) {
        const std::unique_ptr<velomark::ArrivingPage> arrived = std::move(m_arrivingPages.front());
        m_arrivingPages.pop_front();
        CVelomarkDoc* page = NewPageDocument();
        if (page) {
            page->m_dib.SwapImage(arrived->image);
            page->SetResolution(arrived->resolution);
            page->ImageSide().UpdateAllViews();
        }
        // A page reaches the client when the client takes it, not when it is placed.
        if (arrived->result == velomark::PublishResult::Published)
            m_waitingPages.AddPlaced(page);
        if (arrived->result == velomark::PublishResult::Queued) m_waitingPages.AddQueued(page);
        ReportImage(arrived->info, arrived->result);
    }
}

bool CMainFrame::OnMainLoop() const {
    const wxEventLoopBase* active = wxEventLoopBase::GetActive();
    return active && wxTheApp && active == wxTheApp->GetMainLoop();
}

// Sources and clients wake the loop from their threads.
void CMainFrame::Wake() { CallAfter(&CMainFrame::TurnEngine); }

void CMainFrame::Notice(const std::string& text) { ShowStatus(wxString::FromUTF8(text)); }

bool CMainFrame::CommandEnabled(uint16_t id) {
    const int toolkitId = ToolkitId(id);
    return toolkitId >= 0 && IsCommandEnabled(toolkitId);
}

bool CMainFrame::RunCommand(uint16_t id) { return RouteMenuCommand(ToolkitId(id)); }

bool CMainFrame::IsCommandEnabled(int toolkitId) {
    wxUpdateUIEvent update(toolkitId);
    update.SetEventObject(this);
    if (ProcessWindowEvent(update) && update.GetSetEnabled()) return update.GetEnabled();
    return true;
}

bool CMainFrame::ProcessEvent(wxEvent& event) {
    if (event.IsCommandEvent())
        if (auto* origin = dynamic_cast<wxWindow*>(event.GetEventObject()))
            if (wxGetTopLevelParent(origin) != this) return false;
    return CMainFrameBase::ProcessEvent(event);
}

bool CMainFrame::RouteMenuCommand(int toolkitId) {
    if (toolkitId < 0 || !IsCommandEnabled(toolkitId)) return false;
    wxCommandEvent command(wxEVT_MENU, toolkitId);
    command.SetEventObject(this);
    return ProcessWindowEvent(command);
}

void CMainFrame::OnCharHook(wxKeyEvent& event) {
    // The toolkit runs an accelerator only when the menu bar has its command, and
    // Save, Print, Undo and the clipboard keys have none: the frame routes those.
    // A menu item runs its own shortcut; another key for the same command (Ctrl+= for
    // Zoom In's Ctrl++) is routed here.
    const unsigned command = AcceleratorCommand(event.GetModifiers(), event.GetKeyCode());
    const int toolkitId = command ? ToolkitId(command) : -1;
    const wxMenuItem* item =
        toolkitId >= 0 && GetMenuBar() ? GetMenuBar()->FindItem(toolkitId) : nullptr;
    const std::unique_ptr<wxAcceleratorEntry> own(item ? item->GetAccel() : nullptr);
    const bool menuRunsIt =
        item && (!own || (own->GetKeyCode() == event.GetKeyCode() &&
                          own->GetFlags() == AcceleratorFlags(event.GetModifiers())));
    if (toolkitId < 0 || menuRunsIt) {
        event.Skip();
        return;
    }
    RouteMenuCommand(toolkitId);
}

std::optional<size_t> CMainFrame::ChooseFromList(const std::vector<std::string>& names,
                                                 size_t preselected) {
    // Unattended, the default stands, as with Velomark's own DSM.
    if (UnattendedFromEnvironment() || !SourceSelectDialog::CanShow()) return preselected;
    const velomark::AcquisitionEngine::Nested nested;
    return SourceSelectDialog::Choose(names, preselected);
}

void CMainFrame::OnActivate(wxActivateEvent& event) {
    // Back in the program's window, the keys go to the active document's canvas.
    wxDocManager* manager = GetDocumentManager();
    if (event.GetActive() && manager)
        if (auto* view = dynamic_cast<CVelomarkView*>(manager->GetCurrentView()))
            if (view->Canvas()) view->Canvas()->FocusWhenActive();
    event.Skip();
}

void CMainFrame::OnFileSelectsource(wxCommandEvent&) { m_engine.SelectSource(); }

void CMainFrame::OnUpdateFileSelectsource(wxUpdateUIEvent& event) {
    event.Enable(m_engine.Twain().IsLoaded());
}

void CMainFrame::OnFileAcquire(wxCommandEvent&) { m_engine.Acquire(-1); }

void CMainFrame::OnUpdateFileAcquire(wxUpdateUIEvent& event) {
    event.Enable(m_engine.Twain().HasSourceChosen());
}

void CMainFrame::OnGetDibBites(wxCommandEvent&) {
    m_engine.HandleCommandText();
    FollowWaitingPages();
}

void CMainFrame::PageReceived(const TW_IMAGEINFO& info, velomark::PublishResult result,
                              velomark::ImageDocument* image) {
    if (result == velomark::PublishResult::SentToRequester) {
        // Another requester's page: no window, only a word of what runs for whom.
        wxString progress = BatchProgressText();
        progress[0] = wxTolower(progress[0]);
        ShowStatus("Scanning for a client: " + progress);
        if (GetStatusBar()) GetStatusBar()->Update();
        ReportImage(info, result);
        return;
    }
    if (auto* arrived = dynamic_cast<velomark::ArrivingPage*>(image)) {
        // Told of when its window is made (ShowArrivedPages).
        arrived->info = info;
        arrived->result = result;
    } else {
        ReportImage(info, result);  // no window for it
    }
    const wxString progress = BatchProgressText();
    velomark::ReportEvent("progress " + progress.ToStdString());
    wxString text = progress;
    m_nImagesShownWaiting = m_engine.Outbox().Count();
    if (result == velomark::PublishResult::Queued)
        text += " - " + WaitingImagesText(m_nImagesShownWaiting);
    else if (result != velomark::PublishResult::Published)
        text += wxString(" - ") + velomark::PublishResultText(result);
    ShowStatus(text);
    // The batch runs without returning to the loop: the bar shows each page now.
    if (GetStatusBar()) GetStatusBar()->Update();
}

void CMainFrame::ReportImage(const TW_IMAGEINFO& info, velomark::PublishResult result) {
    velomark::ReportEvent(
        "image " + std::to_string(info.ImageWidth) + " " + std::to_string(info.ImageLength) + " " +
        std::to_string(info.BitsPerPixel) + " " + velomark::PublishResultText(result));
}

velomark::ImageDocument* CMainFrame::OpenNewDocument() {
    m_arrivingPages.push_back(std::make_unique<velomark::ArrivingPage>());
    if (!m_showingScheduled) {
        m_showingScheduled = true;
        CallAfter([this] { ShowArrivedPages(); });
    }
    return m_arrivingPages.back().get();
}

CVelomarkDoc* CMainFrame::NewPageDocument() {
    wxDocManager* manager = GetDocumentManager();
    if (!manager) return nullptr;
    auto* document = dynamic_cast<CVelomarkDoc*>(manager->CreateDocument(wxString(), wxDOC_NEW));
    if (!document) return nullptr;
    velomark::ReportEvent("document " + document->GetUserReadableName().ToStdString());
    return document;
}

wxString CMainFrame::BatchProgressText() const {
    const int page = m_engine.Twain().PageOfBatch();
    const int size = m_engine.Twain().SizeOfBatch();
    return size > 0 ? wxString::Format("Page %d of %d", page, size)
                    : wxString::Format("Page %d", page);
}

void CMainFrame::OnIdleTitle(wxIdleEvent& event) {
    event.Skip();
    wxDocManager* manager = GetDocumentManager();
    const wxDocument* active = manager ? manager->GetCurrentDocument() : nullptr;
    wxString title = LoadResourceString(IDR_MAINFRAME);
    if (active) title += " - " + active->GetUserReadableName();
    if (title == GetTitle()) return;
    SetTitle(title);
    velomark::ReportEvent("title " + title.ToStdString());
}

void CMainFrame::OnClose(wxCloseEvent& event) {
    // Documents are asked first, so that TWAIN and the channel are released only
    // once the close goes ahead.
    wxDocManager* manager = GetDocumentManager();
    // Every page that arrived gets its window (and its question); pages the client
    // took since the last message need none.
    ShowArrivedPages(true);
    FollowWaitingPages();
    if (event.CanVeto() && manager) {
        for (wxDocument* document : manager->GetDocumentsVector()) {
            if (document->IsModified() && !document->OnSaveModified()) {
                event.Veto();
                return;
            }
        }
    }
    velomark::ReportEvent("closing");
    m_heartbeat.Stop();
    s_pHooked = nullptr;
    m_engine.Stop();
    // A close that cannot be refused asks nothing: closing a document would ask again.
    if (manager && !event.CanVeto())
        for (wxDocument* document : manager->GetDocumentsVector()) document->Modify(false);
    try {
        if (manager) manager->Clear(true);
    } catch (...) {
    }
    Destroy();
}

void CMainFrame::OnHeartbeat(wxTimerEvent&) {
    // The timer's own event went through the per-message hook already (the poll);
    // the turn takes up what waited for a better moment (a modal dialog's end).
    CallAfter(&CMainFrame::TurnEngine);  // also shows pages a modal loop held back
    if (++m_nHeartbeats % kIndicatorEvery == 0 && GetStatusBar()) {
        m_indicators.Update(*GetStatusBar());
        ShowWaitingImages();
    }
}

void CMainFrame::FollowWaitingPages() {
    // Marking a page sent retitles its window, whose events must not turn the
    // engine inside this loop.
    const velomark::AcquisitionEngine::Nested nested;
    // A word off 5 says the client took the image placed last.
    velomark::SharedChannel& channel = m_engine.Channel();
    if (channel.LoadStatus() != velomark::CHANNEL_IMAGE_READY) channel.NotePlacedImageTaken();
    const velomark::ChannelOutbox& outbox = m_engine.Outbox();
    m_waitingPages.Update(outbox.DeliveredCount(), outbox.RemovedCount(),
                          m_engine.Channel().TakenCount());
}

wxString CMainFrame::WaitingImagesText(size_t waiting) {
    return waiting == 1 ? wxString("1 image waiting for the client")
                        : wxString::Format("%zu images waiting for the client", waiting);
}

void CMainFrame::ShowWaitingImages() {
    const size_t waiting = m_engine.Outbox().Count();
    if (waiting == m_nImagesShownWaiting) return;
    m_nImagesShownWaiting = waiting;
    ShowStatus(waiting == 0 ? wxString(LoadResourceString(AFX_IDS_IDLEMESSAGE))
                            : WaitingImagesText(waiting));
}

void CMainFrame::OnViewToolbar(wxCommandEvent&) {
    if (wxToolBar* bar = GetToolBar()) {
        bar->Show(!bar->IsShown());
        SendSizeEvent();
    }
}

void CMainFrame::OnViewStatusBar(wxCommandEvent&) {
    if (wxStatusBar* bar = GetStatusBar()) {
        bar->Show(!bar->IsShown());
        SendSizeEvent();
    }
}

void CMainFrame::OnUpdateViewToolbar(wxUpdateUIEvent& event) {
    event.Check(GetToolBar() && GetToolBar()->IsShown());
}

void CMainFrame::OnUpdateViewStatusBar(wxUpdateUIEvent& event) {
    event.Check(GetStatusBar() && GetStatusBar()->IsShown());
}

void CMainFrame::OnUpdateRecentFile(wxUpdateUIEvent& event) {
    wxDocManager* manager = GetDocumentManager();
    const size_t index = static_cast<size_t>(event.GetId() - wxID_FILE1);
    event.Enable(manager && manager->GetFileHistory() &&
                 index < manager->GetFileHistory()->GetCount());
}

void CMainFrame::OnUpdateDisabled(wxUpdateUIEvent& event) { event.Enable(false); }

void CMainFrame::RefreshRecentFiles() {
    wxDocManager* manager = GetDocumentManager();
    if (m_recentFiles && manager && manager->GetFileHistory())
        m_recentFiles->Refresh(*manager->GetFileHistory());
}

void CMainFrame::ShowStatus(const wxString& text) {
    velomark::ReportEvent("status " + text.ToStdString(wxConvUTF8));
    if (wxStatusBar* bar = GetStatusBar()) bar->SetStatusText(text, 0);
}
