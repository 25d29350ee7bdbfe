// A SANE source's real window in a running wx application, under Xvfb: CTwain loads the
// real DSM by name, the DSM finds sane.ds beside it, SANE's test backend scans, and the
// notifications come back through a TwainMessagePump as in the program.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "sources/sane/SaneWindow.h"
#include "tests/sources/TwainMessagePump.h"
#include "tests/sources/WindowDriver.h"
#include "tests/sources/sane/SaneScanimage.h"
#include "tests/sources/sane/SaneTestImages.h"
#include "twain/Twain.h"

namespace {

using namespace std::chrono_literals;
using namespace WindowDriver;

class WindowTwain : public CTwain {
public:
    ~WindowTwain() override { ReleaseTwain(); }
    void ReceiveImage(HGLOBAL image, const TW_IMAGEINFO& info) override {
        pages.push_back(BlockContents(image));
        infos.push_back(info);
    }
    BOOL CanCloseSource() override {
        ++closeRequests;
        return TRUE;
    }

    TwainMessagePump pump{*this};
    std::vector<std::vector<uint8_t>> pages;
    std::vector<TW_IMAGEINFO> infos;
    int closeRequests = 0;
};

wxFrame* SaneWindowShown() {
    for (wxWindow* window : wxTopLevelWindows)
        if (window->GetName() == SaneWindow::kWindowName) return dynamic_cast<wxFrame*>(window);
    return nullptr;
}

class SaneWindowTest : public ::testing::Test {
protected:
    static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "VELOMARK_DEFAULT_SOURCE",
                                                 "VELOMARK_SANE_OPTIONS", "SANE_CONFIG_DIR"};

    void SetUp() override {
        char folder[] = "/tmp/velomark-sane-window-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_config = folder;
        for (const char* name : {"VELOMARK_UNATTENDED", "VELOMARK_DSM", "VELOMARK_SOURCE_PATH",
                                 "VELOMARK_SANE_LIBRARY"})
            unsetenv(name);
        setenv("XDG_CONFIG_HOME", folder, 1);
        m_device = "test:" + std::to_string(FreshSaneTestDevice());
        setenv("VELOMARK_DEFAULT_SOURCE", m_device.c_str(), 1);
        setenv("SANE_CONFIG_DIR", SaneTestConfigDir(), 1);
        m_blocks = GlobalLiveBlockCount();
        m_windows = wxTopLevelWindows.GetCount();
        m_twain = std::make_unique<WindowTwain>();
    }
    void TearDown() override {
        m_twain.reset();
        RunFor(200ms);
        EXPECT_EQ(wxTopLevelWindows.GetCount(), m_windows) << "a window outlived the DSM";
        EXPECT_EQ(GlobalLiveBlockCount(), m_blocks) << "a global block was not freed";
        std::filesystem::remove_all(m_config);
        for (const char* name : kVariables) unsetenv(name);
    }

    // Acquire(-1) with the window, the given options in VELOMARK_SANE_OPTIONS.
    wxFrame* OpenWindow(const std::string& options) {
        setenv("VELOMARK_SANE_OPTIONS", options.c_str(), 1);
        EXPECT_TRUE(m_twain->InitTwain(m_twain->pump.Handle())) << ModuleLoadError();
        EXPECT_TRUE(m_twain->Acquire(-1));
        wxFrame* window = SaneWindowShown();
        EXPECT_NE(window, nullptr);
        if (window) {
            EXPECT_TRUE(window->IsShown());
            EXPECT_EQ(window->GetTitle(), "frontend-tester (" + m_device + ")");
        }
        return window;
    }
    static wxStaticText* Status(wxWindow* window) {
        return FindControl<wxStaticText>(
            window, [](wxStaticText& text) { return text.GetWindowStyle() & wxST_NO_AUTORESIZE; });
    }
    static bool StatusIs(wxWindow* window, const wxString& start) {
        wxStaticText* status = Status(window);
        return status && status->GetLabel().StartsWith(start);
    }

    std::string m_device;  // this test's SANE device
    std::filesystem::path m_config;
    size_t m_blocks = 0;
    size_t m_windows = 0;
    std::unique_ptr<WindowTwain> m_twain;
};

constexpr const char* kSmall = "tl-x=0,tl-y=0,br-x=20,br-y=20,resolution=50";
constexpr const char* kSlowPage =
    "tl-x=0,tl-y=0,br-x=100,br-y=100,resolution=200,read-delay=yes,read-delay-duration=200000";

TEST_F(SaneWindowTest, TheWindowOffersTheDevicesChoicesAndScanRemembersThem) {
    wxFrame* window = OpenWindow(std::string(kSmall) + ",test-picture=Color pattern");
    ASSERT_NE(window, nullptr);
    wxChoice* mode = FindChoice(window, "Color");
    wxChoice* source = FindChoice(window, "Automatic Document Feeder");
    wxChoice* resolution = FindChoice(window, "300");
    wxChoice* area = FindChoice(window, "A6 (105 x 148 mm)");
    ASSERT_TRUE(mode && source && resolution && area);
    EXPECT_EQ(mode->GetStringSelection(), "Gray");
    EXPECT_EQ(source->GetStringSelection(), "Flatbed");
    EXPECT_EQ(resolution->GetStringSelection(), "50");
    EXPECT_EQ(area->GetStringSelection(), "As last used (20 x 20 mm)");
    EXPECT_EQ(area->FindString("A4 (210 x 297 mm)"), wxNOT_FOUND);  // the area is 200 x 200 mm

    RunFor(300ms);
    EXPECT_TRUE(m_twain->pages.empty()) << "scanned before Scan";
    Choose(*mode, "Color");
    Click(*FindButton(window, "Scan"));
    ASSERT_TRUE(RunUntil([&] { return m_twain->pages.size() == 1 && StatusIs(window, "Done"); }));
    EXPECT_EQ(Status(window)->GetLabel(), "Done: 1 page");
    EXPECT_EQ(m_twain->infos[0].PixelType, TWPT_RGB);
    auto* gauge = FindControl<wxGauge>(window, [](wxGauge&) { return true; });
    EXPECT_EQ(gauge->GetValue(), gauge->GetRange());

    // The pixels are scanimage's for what the window chose.
    SaneSettings chosen;
    std::string error;
    ASSERT_TRUE(SaneSettings::Parse(std::string(kSmall) + ",test-picture=Color pattern,mode=Color",
                                    &chosen, &error));
    DecodedImage expected, actual;
    ASSERT_TRUE(SaneScanimage::Scan(m_device, chosen, &expected, &error)) << error;
    ASSERT_TRUE(DecodeDib(m_twain->pages[0], &actual, &error)) << error;
    EXPECT_EQ(FirstDifference(expected, actual), "");

    std::ifstream in(m_config / "velomark" / "sane.conf");
    std::stringstream conf;
    conf << in.rdbuf();
    EXPECT_NE(conf.str().find("[" + m_device + "]\n"), std::string::npos) << conf.str();
    EXPECT_NE(conf.str().find("mode=Color\n"), std::string::npos) << conf.str();
    EXPECT_NE(conf.str().find("br-x=20\n"), std::string::npos) << conf.str();

    Click(*FindButton(window, "Close"));
    ASSERT_TRUE(RunUntil([&] { return !m_twain->IsSourceOpen(); }));
    EXPECT_EQ(m_twain->closeRequests, 1);
    EXPECT_FALSE(Exists(window));

    // Opened again, the window starts from what was remembered.
    unsetenv("VELOMARK_SANE_OPTIONS");
    ASSERT_TRUE(m_twain->Acquire(-1));
    window = SaneWindowShown();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindChoice(window, "Color")->GetStringSelection(), "Color");
}

TEST_F(SaneWindowTest, AnAreaOffTheBedsCornerIsScannedWhereItLies) {
    // As an application's image layout leaves it; the grid shows where the area lies.
    const std::string options = "tl-x=10,tl-y=5,br-x=30,br-y=25,resolution=50,test-picture=Grid";
    wxFrame* window = OpenWindow(options);
    ASSERT_NE(window, nullptr);
    wxChoice* area = FindChoice(window, "A6 (105 x 148 mm)");
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->GetStringSelection(), "As last used (20 x 20 mm)");
    Click(*FindButton(window, "Scan"));
    ASSERT_TRUE(RunUntil([&] { return m_twain->pages.size() == 1 && StatusIs(window, "Done"); }));
    SaneSettings chosen;
    std::string error;
    ASSERT_TRUE(SaneSettings::Parse(options, &chosen, &error));
    DecodedImage expected, actual;
    ASSERT_TRUE(SaneScanimage::Scan(m_device, chosen, &expected, &error)) << error;
    ASSERT_TRUE(DecodeDib(m_twain->pages[0], &actual, &error)) << error;
    EXPECT_EQ(FirstDifference(expected, actual), "");
}
TEST_F(SaneWindowTest, CancelStopsThePageBeingReadAndScanComesBack) {
    wxFrame* window = OpenWindow(std::string(kSlowPage) + ",mode=Gray");
    ASSERT_NE(window, nullptr);
    wxButton* scan = FindButton(window, "Scan");
    wxButton* cancel = FindButton(window, "Cancel");
    auto* gauge = FindControl<wxGauge>(window, [](wxGauge&) { return true; });
    ASSERT_TRUE(scan && cancel && gauge);
    EXPECT_FALSE(cancel->IsEnabled());
    Press(*scan);
    // The bar follows the bytes read against the page's size.
    ASSERT_TRUE(RunUntil([&] { return gauge->GetValue() > 0 && cancel->IsEnabled(); }));
    EXPECT_TRUE(StatusIs(window, "Scanning page 1: ")) << Status(window)->GetLabel();
    EXPECT_LT(gauge->GetValue(), gauge->GetRange());
    Click(*cancel);
    ASSERT_TRUE(RunUntil([&] { return StatusIs(window, "Cancelled"); }))
        << Status(window)->GetLabel();
    EXPECT_TRUE(scan->IsEnabled());
    EXPECT_FALSE(cancel->IsEnabled());
    RunFor(300ms);
    EXPECT_TRUE(m_twain->pages.empty());
    EXPECT_TRUE(m_twain->IsSourceOpen());
}

TEST_F(SaneWindowTest, AnUnknownPageLengthShowsTheBytesRead) {
    wxFrame* window = OpenWindow(std::string(kSlowPage) + ",hand-scanner=yes");
    ASSERT_NE(window, nullptr);
    Press(*FindButton(window, "Scan"));
    ASSERT_TRUE(RunUntil([&] {
        const wxString label = Status(window)->GetLabel();
        return label.StartsWith("Scanning page 1: ") && label.EndsWith(" KB") &&
               !label.StartsWith("Scanning page 1: 0 KB");
    })) << Status(window)->GetLabel();
    Press(*FindButton(window, "Cancel"));
    ASSERT_TRUE(RunUntil([&] { return StatusIs(window, "Cancelled"); }));
}

TEST_F(SaneWindowTest, TheFeedersPagesAllArriveAndScanComesBack) {
    wxFrame* window = OpenWindow(std::string(kSmall) + ",source=Automatic Document Feeder");
    ASSERT_NE(window, nullptr);
    wxButton* scan = FindButton(window, "Scan");
    Press(*scan);
    ASSERT_TRUE(RunUntil([&] { return m_twain->pages.size() == 10 && StatusIs(window, "Done"); }));
    EXPECT_EQ(Status(window)->GetLabel(), "Done: 10 pages");
    EXPECT_TRUE(RunUntil([&] { return scan->IsEnabled(); }));
    EXPECT_TRUE(m_twain->IsSourceOpen());
}

TEST_F(SaneWindowTest, AnEmptyFeederIsSaidSo) {
    // The test backend's feeder reports its lack of sheets when the first is read.
    wxFrame* window = OpenWindow(std::string(kSmall) +
                                 ",source=Automatic Document Feeder,"
                                 "read-return-value=SANE_STATUS_NO_DOCS");
    ASSERT_NE(window, nullptr);
    Press(*FindButton(window, "Scan"));
    ASSERT_TRUE(RunUntil([&] { return StatusIs(window, "The document feeder is empty."); }))
        << Status(window)->GetLabel();
    EXPECT_TRUE(m_twain->pages.empty());
    EXPECT_TRUE(m_twain->IsSourceOpen());
}

TEST_F(SaneWindowTest, ADeviceErrorIsShownInTheWindow) {
    wxFrame* window = OpenWindow(std::string(kSmall) + ",read-return-value=SANE_STATUS_JAMMED");
    ASSERT_NE(window, nullptr);
    Press(*FindButton(window, "Scan"));
    ASSERT_TRUE(RunUntil([&] { return StatusIs(window, "Error: "); }));
    EXPECT_EQ(Status(window)->GetLabel(), "Error: Document feeder jammed");
    EXPECT_TRUE(m_twain->pages.empty());
    EXPECT_TRUE(FindButton(window, "Scan")->IsEnabled());
}

TEST_F(SaneWindowTest, QuittingInTheMiddleOfAPageTakesEverythingDown) {
    wxFrame* window = OpenWindow(kSlowPage);
    ASSERT_NE(window, nullptr);
    Press(*FindButton(window, "Scan"));
    RunFor(300ms);
    m_twain->ReleaseTwain();
    EXPECT_FALSE(Exists(window));
    EXPECT_TRUE(m_twain->pages.empty());
}

}  // namespace
