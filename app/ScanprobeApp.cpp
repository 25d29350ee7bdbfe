#include "app/ScanprobeApp.h"

#include <wx/config.h>
#include <wx/fileconf.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/AboutDlg.h"
#include "app/VelomarkDocManager.h"
#include "docview/ChildFrame.h"
#include "docview/SaveAllPages.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"
#include "frame/EventLog.h"
#include "frame/MainFrame.h"
#include "platform/ConfigFile.h"
#include "platform/HeapTuning.h"
#include "res/CommandMap.h"
#include "res/ResourceIds.h"
#include "res/StringTable.h"

namespace {

constexpr const char* kRegistryKey = "Local AppWizard-Generated Applications";
constexpr const char* kRecentFileGroup = "/Recent File List";

// The settings file: <configuration folder>/<vendor>/<application>.ini, the place
// of the registry key and its application subkey.
wxString SettingsFilePath() {
    const std::filesystem::path home = UserConfigFolder();
    if (home.empty()) return {};
    const std::filesystem::path folder = home / kRegistryKey;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return wxString::FromUTF8((folder / "Velomark.ini").string());
}

// What the command line holds. Velomark reads it and acts on none of it: it always
// starts with an empty MDI area.
struct CommandLineInfo {
    std::vector<wxString> arguments;
    // --share or --share=ADDRESS:PORT: serve the sources as network scanners.
    std::optional<velomark::ShareAddress> share;
};

CommandLineInfo ParseCommandLine(int argc, wxChar** argv) {
    CommandLineInfo info;
    for (int i = 1; i < argc; ++i) {
        info.arguments.emplace_back(argv[i]);
        const std::string arg = info.arguments.back().ToStdString(wxConvUTF8);
        std::string error;
        velomark::ShareAddress address;
        if (arg == "--share")
            info.share = velomark::ShareAddress::Loopback();
        else if (arg.rfind("--share=", 0) != 0)
            continue;
        else if (velomark::ShareAddress::Parse(arg.substr(8), &address, &error))
            info.share = address;
        else
            std::fprintf(stderr, "velomark: --share: %s\n", error.c_str());
    }
    return info;
}

}  // namespace

CScanprobeApp::CScanprobeApp() {
    // A file-size limit (ulimit -f, a quota's hard limit) must fail the one write that
    // passes it, with EFBIG that the save reports, not end the program with its pages.
    std::signal(SIGXFSZ, SIG_IGN);
    // Scroll bars that stay on screen, as a document window's should; GTK reads this
    // when the toolkit starts, after the application object exists. A user's own
    // setting wins.
    setenv("GTK_OVERLAY_SCROLLING", "0", 0);
}

bool CScanprobeApp::OnInit() {
    KeepImageMemoryWarm();
    SetAppName(velomark::res::LoadResourceString(velomark::res::AFX_IDS_APP_TITLE));
    SetVendorName(kRegistryKey);
    const wxString settings = SettingsFilePath();
    if (!settings.empty())
        wxConfigBase::Set(new wxFileConfig(GetAppName(), GetVendorName(), settings, wxString(),
                                           wxCONFIG_USE_LOCAL_FILE));

    m_pDocManager = new CVelomarkDocManager;
    if (wxConfigBase* config = wxConfigBase::Get()) {
        config->SetPath(kRecentFileGroup);
        m_pDocManager->FileHistoryLoad(*config);
        config->SetPath("/");
    }
    new wxDocTemplate(m_pDocManager, "Velomark", "*", wxString(), wxString(),
                      "Velomark.Document\\Velomark Document", "Velomark View",
                      wxCLASSINFO(CVelomarkDoc), wxCLASSINFO(CVelomarkView));

    auto* frame = new CMainFrame;
    m_pDocManager->SetHistoryChangedHandler([this] {
        if (CMainFrame* live = CMainFrame::HookedFrame()) live->RefreshRecentFiles();
    });
    if (!frame->LoadFrame(m_pDocManager)) {
        frame->Destroy();
        return false;
    }
    SetTopWindow(frame);
    Bind(wxEVT_MENU, &CScanprobeApp::OnAppAbout, this, wxID_ABOUT);
    Bind(wxEVT_MENU, &CScanprobeApp::OnFilePrintSetup, this, wxID_PRINT_SETUP);
    const int saveAllPages = velomark::res::ToolkitId(velomark::res::ID_FILE_SAVE_ALL_PAGES);
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent&) { velomark::SaveAllPagesCommand(*m_pDocManager, GetTopWindow()); },
        saveAllPages);
    Bind(
        wxEVT_UPDATE_UI,
        [this](wxUpdateUIEvent& event) {
            event.Enable(velomark::HasOpenPages(*m_pDocManager));
        },
        saveAllPages);

    const CommandLineInfo commandLine = ParseCommandLine(argc, argv);
    if (commandLine.share) frame->Sharing().SetAddress(*commandLine.share);
    if (commandLine.share || velomark::ScannerSharing::Remembered())
        frame->Sharing().Share(true, false);

    frame->Show(true);
    frame->Update();
    velomark::ReportEvent("shown");
    return true;
}

int CScanprobeApp::OnExit() {
    if (m_pDocManager) {
        if (wxConfigBase* config = wxConfigBase::Get()) {
            config->SetPath(kRecentFileGroup);
            m_pDocManager->FileHistorySave(*config);
            config->SetPath("/");
            config->Flush();
        }
        delete m_pDocManager;
        m_pDocManager = nullptr;
    }
    delete wxConfigBase::Set(nullptr);
    velomark::ReportEvent("exit");
    return wxApp::OnExit();
}

int CScanprobeApp::FilterEvent(wxEvent& event) {
    // Update-UI events are the toolkit asking about menu states, not messages. The
    // engine's re-entry rule declines events delivered inside a handler and those of
    // a modal dialog's loop.
    CMainFrame* frame = CMainFrame::HookedFrame();
    if (frame && event.GetEventType() != wxEVT_UPDATE_UI) {
        MSG msg{};
        msg.message = event.GetEventType() == wxEVT_TIMER ? WM_TIMER : WM_NULL;
        msg.time = MessageTime();
        frame->PreTranslateMessage(&msg);
    }
    return Event_Skip;
}

void CScanprobeApp::CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                                     wxEvent& event) const {
    // Events delivered while a handler runs are not the main loop's own: no turn.
    const velomark::AcquisitionEngine::Nested nested;
    wxApp::CallEventHandler(handler, functor, event);
}

void CScanprobeApp::OnAppAbout(wxCommandEvent&) {
    CAboutDlg dialog(GetTopWindow());
    velomark::ReportEvent("about");
    dialog.ShowModal();
}

void CScanprobeApp::OnFilePrintSetup(wxCommandEvent&) {
    // The document manager keeps the printer settings that printing uses.
    wxCommandEvent setup(wxEVT_MENU, wxID_PAGE_SETUP);
    if (m_pDocManager) m_pDocManager->ProcessEvent(setup);
}
