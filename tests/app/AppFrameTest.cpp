// The application as it starts: CScanprobeApp with its main frame, the real DSM and
// the test chart in unattended mode, tested from inside the main loop.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <wx/docview.h>
#include <wx/evtloop.h>
#include <wx/filehistory.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/timer.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/AboutDlg.h"
#include "app/ScanprobeApp.h"
#include "bridge/ChannelLayout.h"
#include "bridge/SharedChannel.h"
#include "docview/VelomarkDoc.h"
#include "engine/ShareAddress.h"
#include "frame/MainFrame.h"
#include "frame/ScannerSharing.h"
#include "frame/WaitingPages.h"
#include "res/CommandMap.h"
#include "res/ResourceIds.h"

namespace {

CMainFrame& Frame() { return *dynamic_cast<CMainFrame*>(wxTheApp->GetTopWindow()); }

wxDocManager& Documents() { return *Frame().GetDocumentManager(); }

// Runs the loop's pending work until the condition holds or the time is up.
bool SpinUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Spin(int ms) {
    SpinUntil([] { return false; }, ms);
}

std::vector<std::string> DocumentTitles() {
    std::vector<std::string> titles;
    for (wxDocument* document : Documents().GetDocumentsVector())
        titles.push_back(document->GetUserReadableName().ToStdString());
    return titles;
}

void CloseAllDocuments() {
    // Acquired pages that never reached the client would ask.
    for (wxDocument* document : Documents().GetDocumentsVector()) document->Modify(false);
    Documents().CloseDocuments(true);
    Spin(50);
}

bool IsEnabled(int id) {
    wxUpdateUIEvent update(id);
    update.SetEventObject(&Frame());
    Frame().ProcessWindowEvent(update);
    return !update.GetSetEnabled() || update.GetEnabled();
}

std::vector<std::string> MenuLabels(const wxMenu& menu) {
    std::vector<std::string> labels;
    for (const wxMenuItem* item : menu.GetMenuItems())
        labels.push_back(item->IsSeparator() ? "-" : item->GetItemLabel().ToStdString());
    return labels;
}

TEST(AppStartTest, FrameShowsMenuToolbarAndStatusBarWithNoDocument) {
    CMainFrame& frame = Frame();
    EXPECT_TRUE(frame.IsShown());
    EXPECT_TRUE(DocumentTitles().empty());

    wxMenuBar* bar = frame.GetMenuBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->GetMenuCount(), 4u);
    EXPECT_EQ(bar->GetMenuLabel(0), "&File");
    EXPECT_EQ(bar->GetMenuLabel(1), "&View");
    EXPECT_EQ(bar->GetMenuLabel(2), "&Window");
    EXPECT_EQ(bar->GetMenuLabel(3), "&Help");
    const std::vector<std::string> file = {"&New\tCtrl+N",
                                           "&Open...\tCtrl+O",
                                           "&Close\tCtrl+W",
                                           "Save &As...\tCtrl+Shift+S",
                                           "Save A&ll Pages...\tCtrl+Alt+S",
                                           "-",
                                           "S&elect Source...",
                                           "A&cquire...",
                                           "S&hare Scanners on the Network",
                                           "-",
                                           "P&rint Setup...",
                                           "-",
                                           "Recent File",
                                           "-",
                                           "E&xit"};
    EXPECT_EQ(MenuLabels(*bar->GetMenu(0)), file);
    EXPECT_EQ(
        MenuLabels(*bar->GetMenu(1)),
        (std::vector<std::string>{"&Toolbar", "&Status Bar", "-", "Zoom &In\tCtrl++",
                                  "Zoom &Out\tCtrl+-", "&Actual Size\tCtrl+0", "Fit &Width"}));
    EXPECT_EQ(MenuLabels(*bar->GetMenu(2)), std::vector<std::string>{"Close &All"});
    EXPECT_EQ(MenuLabels(*bar->GetMenu(3)), std::vector<std::string>{"&About Velomark..."});
    EXPECT_EQ(bar->GetMenu(0)->FindItem(velomark::res::ToolkitId(32771))->GetHelp(), "");
    EXPECT_EQ(bar->GetMenu(0)->FindItem(wxID_NEW)->GetHelp(), "Create a new document");

    wxToolBar* tools = frame.GetToolBar();
    ASSERT_NE(tools, nullptr);
    ASSERT_EQ(tools->GetToolsCount(), 11u);
    const int ids[] = {wxID_NEW,   wxID_OPEN, wxID_SAVE,  -1, wxID_CUT,  wxID_COPY,
                       wxID_PASTE, -1,        wxID_PRINT, -1, wxID_ABOUT};
    for (size_t i = 0; i < 11; ++i) {
        const wxToolBarToolBase* tool = tools->GetToolByPos(static_cast<int>(i));
        if (ids[i] < 0) {
            EXPECT_TRUE(tool->IsSeparator()) << i;
        } else {
            EXPECT_EQ(tool->GetId(), ids[i]) << i;
        }
    }
    EXPECT_EQ(tools->GetToolShortHelp(wxID_SAVE), "Save");
    EXPECT_EQ(tools->GetToolLongHelp(wxID_SAVE), "Save the active document");

    wxStatusBar* status = frame.GetStatusBar();
    ASSERT_NE(status, nullptr);
    ASSERT_EQ(status->GetFieldsCount(), 4);
    EXPECT_EQ(status->GetStatusText(0), "Ready");
}

TEST(AppCommandTest, UpdateRulesDecideWhatACommandMayDo) {
    CMainFrame& frame = Frame();
    // The DSM is loaded; no source is known yet.
    EXPECT_TRUE(IsEnabled(velomark::res::ToolkitId(32771)));
    EXPECT_FALSE(IsEnabled(velomark::res::ToolkitId(32772)));
    EXPECT_FALSE(frame.ExecuteCommand(32772));
    for (unsigned id : {57643u, 57635u, 57634u, 57637u, 57680u, 57681u})
        EXPECT_FALSE(frame.ExecuteCommand(static_cast<uint16_t>(id))) << id;
    EXPECT_FALSE(frame.ExecuteCommand(12345));
    // No recent file yet: its command is refused rather than opening nothing.
    EXPECT_FALSE(frame.ExecuteCommand(57616));
    // Nothing to save or print without a document.
    EXPECT_FALSE(frame.ExecuteCommand(57603));

    EXPECT_TRUE(frame.ExecuteCommand(57600));
    EXPECT_TRUE(frame.ExecuteCommand(57600));
    EXPECT_EQ(DocumentTitles(), (std::vector<std::string>{"Velomark1", "Velomark2"}));
    // Cut and friends stay disabled with a document too.
    EXPECT_FALSE(frame.ExecuteCommand(57635));
    EXPECT_FALSE(frame.ExecuteCommand(57637));
    CloseAllDocuments();

    // Selecting (unattended: the default source) makes Acquire available.
    EXPECT_TRUE(frame.ExecuteCommand(32771));
    EXPECT_TRUE(IsEnabled(velomark::res::ToolkitId(32772)));
}

TEST(AppCommandTest, SaveStaysForASavedDocumentAndCloseAllEmptiesTheList) {
    CloseAllDocuments();
    ASSERT_TRUE(Frame().ExecuteCommand(57600));
    ASSERT_TRUE(Frame().ExecuteCommand(57600));
    wxDocument* saved = Documents().GetCurrentDocument();
    ASSERT_NE(saved, nullptr);
    const std::string path = std::string(getenv("XDG_CONFIG_HOME")) + "/saved.bmp";
    ASSERT_TRUE(saved->OnSaveDocument(path));
    ASSERT_FALSE(saved->IsModified());
    // Saved and unchanged, Save is still there, and writes the file again.
    std::filesystem::remove(path);
    EXPECT_TRUE(Frame().ExecuteCommand(57603));
    EXPECT_TRUE(std::filesystem::exists(path));

    EXPECT_TRUE(Frame().ExecuteCommand(velomark::res::ID_WINDOW_CLOSE_ALL));
    EXPECT_TRUE(DocumentTitles().empty());
    EXPECT_FALSE(Frame().ExecuteCommand(velomark::res::ID_WINDOW_CLOSE_ALL));
}

TEST(AppWaitingPagesTest, PagesTheClientTookAreSentPlacedAndRemovedOnesStayUnsaved) {
    CloseAllDocuments();
    std::vector<CVelomarkDoc*> pages;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Frame().ExecuteCommand(57600));
        pages.push_back(dynamic_cast<CVelomarkDoc*>(Documents().GetCurrentDocument()));
        ASSERT_NE(pages.back(), nullptr);
        pages.back()->Modify(true);
    }
    velomark::WaitingPages waiting;
    for (CVelomarkDoc* page : pages) waiting.AddQueued(page);
    // The first was placed, a new request removed the rest: placed is not yet taken.
    waiting.Update(1, 2, 0);
    EXPECT_TRUE(pages[0]->IsModified());
    waiting.Update(1, 2, 1);
    EXPECT_FALSE(pages[0]->IsModified());
    EXPECT_TRUE(pages[1]->IsModified());
    EXPECT_TRUE(pages[2]->IsModified());
    // A page placed at once counts when taken; one closed meanwhile is passed over.
    waiting.AddPlaced(pages[1]);
    waiting.AddPlaced(pages[2]);
    pages[2]->Modify(false);
    ASSERT_TRUE(Documents().CloseDocument(pages[2], true));
    waiting.Update(1, 2, 3);
    EXPECT_FALSE(pages[1]->IsModified());
    // The client took a page before the frame listed it: the count waits for it.
    ASSERT_TRUE(Frame().ExecuteCommand(57600));
    auto* early = dynamic_cast<CVelomarkDoc*>(Documents().GetCurrentDocument());
    ASSERT_NE(early, nullptr);
    early->Modify(true);
    waiting.Update(1, 2, 4);
    waiting.AddPlaced(early);
    waiting.Update(1, 2, 4);
    EXPECT_FALSE(early->IsModified());
    CloseAllDocuments();
}

TEST(AppStartTest, MenuPromptsShowInTheStatusBar) {
    CMainFrame& frame = Frame();
    frame.DoGiveHelp(wxString::FromUTF8("Open an existing document"), true);
    EXPECT_EQ(frame.GetStatusBar()->GetStatusText(0), "Open an existing document");
    frame.DoGiveHelp(wxString(), false);
    EXPECT_EQ(frame.GetStatusBar()->GetStatusText(0), "Ready");
    // The prompt comes from the item under the pointer: File > Exit's string.
    wxMenuEvent highlight(wxEVT_MENU_HIGHLIGHT, wxID_EXIT, frame.GetMenuBar()->GetMenu(0));
    frame.ProcessWindowEvent(highlight);
    EXPECT_EQ(frame.GetStatusBar()->GetStatusText(0),
              "Quit the application; prompts to save documents");
    frame.DoGiveHelp(wxString(), false);
}

TEST(AppStartTest, LockKeyPanesFollowTheKeys) {
    wxStatusBar& status = *Frame().GetStatusBar();
    const wxString before = status.GetStatusText(1);
    const wxString toggled = before.empty() ? "CAP" : "";
    wxUIActionSimulator keys;
    keys.Char(WXK_CAPITAL);
    EXPECT_TRUE(SpinUntil([&] { return status.GetStatusText(1) == toggled; }, 5000))
        << "pane shows '" << status.GetStatusText(1) << "'";
    keys.Char(WXK_CAPITAL);
    EXPECT_TRUE(SpinUntil([&] { return status.GetStatusText(1) == before; }, 5000));
    EXPECT_EQ(status.GetStatusText(2), wxGetKeyState(WXK_NUMLOCK) ? "NUM" : "");
}

TEST(AppCommandTest, ViewTogglesHideAndShowTheBars) {
    CMainFrame& frame = Frame();
    EXPECT_TRUE(frame.ExecuteCommand(59392));
    EXPECT_FALSE(frame.GetToolBar()->IsShown());
    EXPECT_TRUE(frame.ExecuteCommand(59393));
    EXPECT_FALSE(frame.GetStatusBar()->IsShown());
    EXPECT_TRUE(frame.ExecuteCommand(59392));
    EXPECT_TRUE(frame.ExecuteCommand(59393));
    EXPECT_TRUE(frame.GetToolBar()->IsShown());
    EXPECT_TRUE(frame.GetStatusBar()->IsShown());
}

TEST(AppRecentFilesTest, MenuKeepsTheLastFourFiles) {
    wxMenu& file = *Frame().GetMenuBar()->GetMenu(0);
    const std::vector<std::string> names = {"/tmp/a.bmp", "/tmp/b.bmp", "/tmp/c.bmp",
                                            "/tmp/d&e.bmp", "/tmp/f.bmp"};
    for (const std::string& name : names) Documents().AddFileToHistory(name);
    EXPECT_EQ(Documents().GetHistoryFilesCount(), 4u);
    const std::vector<std::string> labels = MenuLabels(file);
    const std::vector<std::string> expected = {"&New\tCtrl+N",
                                               "&Open...\tCtrl+O",
                                               "&Close\tCtrl+W",
                                               "Save &As...\tCtrl+Shift+S",
                                               "Save A&ll Pages...\tCtrl+Alt+S",
                                               "-",
                                               "S&elect Source...",
                                               "A&cquire...",
                                               "S&hare Scanners on the Network",
                                               "-",
                                               "P&rint Setup...",
                                               "-",
                                               "&1 /tmp/f.bmp",
                                               "&2 /tmp/d&&e.bmp",
                                               "&3 /tmp/c.bmp",
                                               "&4 /tmp/b.bmp",
                                               "-",
                                               "E&xit"};
    EXPECT_EQ(labels, expected);
    EXPECT_TRUE(IsEnabled(wxID_FILE4));

    while (Documents().GetHistoryFilesCount() > 0) Documents().RemoveFileFromHistory(0);
    EXPECT_EQ(MenuLabels(file)[12], "Recent File");
    EXPECT_FALSE(file.FindItem(wxID_FILE1)->IsEnabled());
}

// File > Share Scanners on the Network serves the sources, says where in the status
// bar, and is remembered in the settings.
TEST(AppShareTest, ShareMenuServesTheScannersAndIsRemembered) {
    CMainFrame& frame = Frame();
    const int id = velomark::res::ToolkitId(velomark::res::ID_FILE_SHARE_SCANNERS);
    velomark::ShareAddress address;
    std::string error;
    ASSERT_TRUE(velomark::ShareAddress::Parse("127.0.0.1:0", &address, &error)) << error;
    frame.Sharing().SetAddress(address);
    auto choose = [&](bool on) {
        wxCommandEvent command(wxEVT_MENU, id);
        command.SetInt(on ? 1 : 0);
        frame.ProcessWindowEvent(command);
    };
    choose(true);
    const std::string url = frame.Engine().SharingUrl();
    EXPECT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
    EXPECT_EQ(frame.GetStatusBar()->GetStatusText(0), "Scanners shared at " + url);
    EXPECT_TRUE(velomark::ScannerSharing::Remembered());
    wxUpdateUIEvent update(id);
    frame.ProcessWindowEvent(update);
    EXPECT_TRUE(update.GetChecked());
    choose(false);
    EXPECT_EQ(frame.Engine().SharingUrl(), "");
    EXPECT_FALSE(velomark::ScannerSharing::Remembered());
}

TEST(AppHookTest, RequestWaitsWhileAModalDialogRunsThenAcquires) {
    velomark::SharedChannel& channel = velomark::SharedChannel::Instance();
    ASSERT_TRUE(channel.HasStatusWord());
    channel.StoreStatus(0);
    CloseAllDocuments();

    CAboutDlg about(&Frame());
    int32_t duringDialog = -100;
    wxTimer request, finish;
    request.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { channel.StoreStatus(2); });
    finish.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        duringDialog = channel.LoadStatus();
        about.EndModal(wxID_OK);
    });
    request.StartOnce(50);
    finish.StartOnce(400);  // twenty heartbeats later
    about.ShowModal();
    EXPECT_EQ(duringDialog, 2);

    // Back on the main loop, the request is taken up and the test chart's page
    // reaches a window of its own and the channel.
    EXPECT_TRUE(SpinUntil([&] { return channel.LoadStatus() == 5; }));
    EXPECT_EQ(Documents().GetDocumentsVector().size(), 1u);
    channel.StoreStatus(0);
    Spin(100);
    CloseAllDocuments();
}

TEST(AppHookTest, CommandTextAnswersAndActs) {
    velomark::SharedChannel& channel = velomark::SharedChannel::Instance();
    channel.StoreStatus(0);
    std::strcpy(reinterpret_cast<char*>(channel.DataBlock()), velomark::kSelectSourceCommand);
    EXPECT_TRUE(Frame().ExecuteCommand(velomark::ID_GET_DIB_BITES));
    EXPECT_STREQ(reinterpret_cast<const char*>(channel.DataBlock()), "Wait For OnFileSelectsource");
    // Text that is no command is left as it is.
    std::strcpy(reinterpret_cast<char*>(channel.DataBlock()), "onfileacquire");
    EXPECT_TRUE(Frame().ExecuteCommand(velomark::ID_GET_DIB_BITES));
    EXPECT_STREQ(reinterpret_cast<const char*>(channel.DataBlock()), "onfileacquire");
}

TEST(AppAboutTest, AboutBoxShowsTheVersionAndClosesWithEscape) {
    CAboutDlg about(&Frame());
    EXPECT_EQ(about.GetTitle(), "About Velomark");
    bool textFound = false;
    for (wxWindow* child : about.GetChildren())
        if (child->GetLabel() == "Velomark Version 1.0") textFound = true;
    EXPECT_TRUE(textFound);

    // Escape, pressed as a person would while the box is up, ends it with OK.
    wxTimer press, rescue;
    press.Bind(wxEVT_TIMER, [](wxTimerEvent&) { wxUIActionSimulator().Char(WXK_ESCAPE); });
    rescue.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (about.IsModal()) about.EndModal(wxID_CANCEL);
    });
    press.StartOnce(300);
    rescue.StartOnce(5000);
    EXPECT_EQ(about.ShowModal(), wxID_OK);
}

TEST(AppHandoffTest, ImageTooLargeForTheChannelOpensItsWindowAndSaysSo) {
    velomark::SharedChannel& channel = velomark::SharedChannel::Instance();
    channel.StoreStatus(0);
    CloseAllDocuments();
    // 300 dpi US Letter at 24 bits: 2550 x 3300, about 25 MB, more than the data block.
    setenv("VELOMARK_TESTCHART_DPI", "300", 1);
    unsetenv("VELOMARK_TESTCHART_SIZE");
    channel.StoreStatus(2);
    EXPECT_TRUE(SpinUntil([] { return Documents().GetDocumentsVector().size() == 1; }, 60000));
    EXPECT_TRUE(
        SpinUntil([] { return Frame().GetStatusBar()->GetStatusText(0).Contains("too large"); }));
    Spin(200);
    EXPECT_EQ(channel.LoadStatus(), 0);  // untouched: no image for the client
    setenv("VELOMARK_TESTCHART_DPI", "100", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "173x61", 1);
    CloseAllDocuments();
}

std::string ReadAll(FILE* stream) {
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
    return text;
}

TEST(AppVersionTest, ProgramAndDesktopEntryCarryTheVersionRecord) {
    const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string command =
        "readelf -p .velomark.version '" + (bin / "velomark").string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    const std::string section = ReadAll(pipe);
    pclose(pipe);
    for (const char* line :
         {"FileVersion=1.0.0.1", "ProductVersion=1.0.0.1",
          "FileDescription=Velomark MFC Application", "ProductName=Velomark Application",
          "InternalName=Velomark", "OriginalFilename=Velomark.EXE"})
        EXPECT_NE(section.find(line), std::string::npos) << line << " in:\n" << section;

    FILE* entry = fopen((bin.parent_path() / "share/applications/velomark.desktop").c_str(), "r");
    ASSERT_NE(entry, nullptr);
    const std::string desktop = ReadAll(entry);
    fclose(entry);
    EXPECT_NE(desktop.find("X-Velomark-FileVersion=1.0.0.1"), std::string::npos);
    EXPECT_NE(desktop.find("Exec=" + (bin / "velomark").string()), std::string::npos);
}

// CScanprobeApp as the program starts it, with the tests run from its main loop.
class AppTestApp : public CScanprobeApp {
public:
    bool OnInit() override {
        if (!CScanprobeApp::OnInit()) return false;
        CallAfter([this] {
            m_result = RUN_ALL_TESTS();
            GetTopWindow()->Close(true);
        });
        return true;
    }
    int OnRun() override {
        CScanprobeApp::OnRun();
        return m_result;
    }

private:
    int m_result = 1;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(AppTestApp);

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // A channel, a socket folder and settings of this run's own.
    char folder[] = "/tmp/velomark-app-test-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string suffix = "-app-test-" + std::to_string(getpid());
    setenv("VELOMARK_CHANNEL_SUFFIX", suffix.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder, 1);
    setenv("XDG_CONFIG_HOME", folder, 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "173x61", 1);
    setenv("VELOMARK_TESTCHART_DPI", "100", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "1", 1);
    const int result = wxEntry(argc, argv);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return result;
}
