// The test chart's real window in a running wx application, under Xvfb. CTwain loads
// the real DSM by its library name, the DSM finds testchart.ds beside it, and the
// source's notifications come back through a TwainMessagePump, as in the program. The
// tests find the window among the top-level windows and use its controls.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/spinctrl.h>

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "sources/testchart/TestChartPage.h"
#include "tests/sources/TestChartPages.h"
#include "tests/sources/TwainMessagePump.h"
#include "tests/sources/WindowDriver.h"
#include "twain/Twain.h"

namespace {

using namespace std::chrono_literals;
using namespace WindowDriver;
using Clock = std::chrono::steady_clock;

constexpr char kChartTitle[] = "Velomark Test Chart";

struct ReceivedPage {
    TW_IMAGEINFO info;
    std::vector<BYTE> block;
};

// The program's side: a CTwain whose window is a TwainMessagePump.
class ChartTwain : public CTwain {
public:
    ~ChartTwain() override { ReleaseTwain(); }

    void ReceiveImage(HGLOBAL hImage, const TW_IMAGEINFO& info) override {
        pages.push_back({info, BlockBytes(hImage)});
        EXPECT_FALSE(pages.back().block.empty());
    }
    BOOL CanCloseSource() override {
        ++closeRequests;
        return TRUE;
    }
    BOOL SourceEnabled() const { return m_bSourceEnabled; }

    TwainMessagePump pump{*this};
    std::vector<ReceivedPage> pages;
    int closeRequests = 0;  // MSG_CLOSEDSREQ from the source
};

// Every top-level window with the test chart's title. Only while the source's library
// is loaded: the check asks each window its title.
std::vector<wxTopLevelWindow*> ChartWindows() {
    std::vector<wxTopLevelWindow*> found;
    for (wxWindow* window : wxTopLevelWindows) {
        auto* frame = dynamic_cast<wxTopLevelWindow*>(window);
        if (frame && frame->GetTitle() == kChartTitle) found.push_back(frame);
    }
    return found;
}

class TestChartWindowTest : public ::testing::Test {
protected:
    // What SetUp sets, cleared again after each test.
    static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "VELOMARK_DEFAULT_SOURCE",
                                                 "VELOMARK_TESTCHART_SIZE",
                                                 "VELOMARK_TESTCHART_PAGES"};

    void SetUp() override {
        char folder[] = "/tmp/velomark-chart-window-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_config = folder;
        setenv("XDG_CONFIG_HOME", folder, 1);
        setenv("VELOMARK_DEFAULT_SOURCE", kChartTitle, 1);
        setenv("VELOMARK_TESTCHART_SIZE", "64x48", 1);
        setenv("VELOMARK_TESTCHART_PAGES", "2", 1);
        for (const char* name : {"VELOMARK_UNATTENDED", "VELOMARK_DSM", "VELOMARK_SOURCE_PATH",
                                 "VELOMARK_TESTCHART_TYPE", "VELOMARK_TESTCHART_DPI"})
            unsetenv(name);
        m_blocksAtStart = GlobalLiveBlockCount();
        m_windowsAtStart = wxTopLevelWindows.GetCount();
        m_twain = std::make_unique<ChartTwain>();
    }

    void TearDown() override {
        m_twain.reset();
        EXPECT_EQ(wxTopLevelWindows.GetCount(), m_windowsAtStart) << "a window outlived the DSM";
        // Idle time after the source's library is gone: nothing of it may be left to run.
        RunFor(300ms);
        EXPECT_EQ(wxTopLevelWindows.GetCount(), m_windowsAtStart);
        EXPECT_EQ(GlobalLiveBlockCount(), m_blocksAtStart) << "a global block was not freed";
        std::filesystem::remove_all(m_config);
        for (const char* name : kVariables) unsetenv(name);
    }

    // InitTwain and Acquire(-1) with the user interface; returns the window shown.
    wxTopLevelWindow* AcquireWithWindow() {
        EXPECT_TRUE(m_twain->InitTwain(m_twain->pump.Handle())) << ModuleLoadError();
        EXPECT_TRUE(m_twain->Acquire(-1));
        const std::vector<wxTopLevelWindow*> windows = ChartWindows();
        EXPECT_EQ(windows.size(), 1u);
        if (windows.size() != 1) return nullptr;
        EXPECT_TRUE(windows[0]->IsShown());
        EXPECT_EQ(windows[0]->GetParent(), wxTheApp->GetTopWindow());
        return windows[0];
    }

    // The pages the window's settings ask for, as the generator makes them.
    void ExpectPagesMadeWith(const TestChartSettings& settings) {
        ASSERT_EQ(m_twain->pages.size(), size_t(settings.pages));
        const TW_IMAGEINFO expectedInfo = TestChartImageInfo(settings);
        for (int page = 1; page <= settings.pages; ++page) {
            SCOPED_TRACE("page " + std::to_string(page));
            const ReceivedPage& received = m_twain->pages[page - 1];
            EXPECT_EQ(std::memcmp(&received.info, &expectedInfo, sizeof expectedInfo), 0);
            EXPECT_EQ(GeneratorBytes(settings, page), received.block);
        }
    }

    static TestChartSettings SmallChart(ChartPixelType type, int dpi, int pages) {
        return ::SmallChart(type, 64, 48, pages, dpi);
    }

    std::filesystem::path m_config;
    size_t m_blocksAtStart = 0;
    size_t m_windowsAtStart = 0;
    std::unique_ptr<ChartTwain> m_twain;
};

}  // namespace

TEST_F(TestChartWindowTest, ScanBringsThePagesAndCloseEndsTheSession) {
    wxTopLevelWindow* chart = AcquireWithWindow();
    ASSERT_NE(chart, nullptr);
    wxButton* scan = FindButton(chart, "Scan");
    wxButton* close = FindButton(chart, "Close");
    auto* gauge = FindControl<wxGauge>(chart, [](wxGauge&) { return true; });
    ASSERT_TRUE(scan && close && gauge);

    // Nothing is made before Scan.
    RunFor(300ms);
    EXPECT_TRUE(m_twain->pages.empty());
    EXPECT_EQ(gauge->GetValue(), 0);

    Click(*scan);
    ASSERT_TRUE(RunUntil([&] { return m_twain->pages.size() >= 2; }));
    ExpectPagesMadeWith(SmallChart(ChartPixelType::Rgb, 100, 2));
    EXPECT_EQ(m_twain->pages[0].info.ImageWidth, 64);
    EXPECT_EQ(m_twain->pages[0].info.ImageLength, 48);
    EXPECT_EQ(m_twain->pages[0].info.BitsPerPixel, 24);
    // The progress bar reaches its end and Scan comes back for another batch.
    EXPECT_TRUE(RunUntil([&] {
        return gauge->GetRange() == 2 && gauge->GetValue() == 2 && scan->IsEnabled();
    })) << "gauge "
        << gauge->GetValue() << " of " << gauge->GetRange();
    // With its window up the source stays open after the batch.
    EXPECT_TRUE(m_twain->IsSourceOpen());
    EXPECT_EQ(m_twain->closeRequests, 0);

    Press(*scan);
    EXPECT_TRUE(RunUntil([&] { return m_twain->pages.size() >= 4; }));
    RunFor(200ms);
    EXPECT_EQ(m_twain->pages.size(), 4u);

    Click(*close);
    ASSERT_TRUE(RunUntil([&] { return !m_twain->IsSourceOpen(); }));
    EXPECT_EQ(m_twain->closeRequests, 1);
    EXPECT_FALSE(Exists(chart)) << "the window outlived its source";
    EXPECT_TRUE(m_twain->IsDsmOpen());
}

TEST_F(TestChartWindowTest, SettingsChosenInTheWindowShapeThePages) {
    wxTopLevelWindow* chart = AcquireWithWindow();
    ASSERT_NE(chart, nullptr);
    wxChoice* pixelType = FindChoice(chart, "Grey (8-bit)");
    wxChoice* pageSize = FindChoice(chart, "A4 (210 x 297 mm)");
    wxSpinCtrl* dpi = FindSpin(chart, TestChartSettings::kMaxDpi);
    wxSpinCtrl* pages = FindSpin(chart, TestChartSettings::kMaxPages);
    wxButton* scan = FindButton(chart, "Scan");
    ASSERT_TRUE(pixelType && pageSize && dpi && pages && scan);

    // The window opens on the settings the environment gave.
    EXPECT_EQ(pixelType->GetStringSelection(), "Colour (24-bit)");
    EXPECT_EQ(pageSize->GetStringSelection(), "Custom (64 x 48 pixels)");
    EXPECT_EQ(dpi->GetValue(), 100);
    EXPECT_EQ(pages->GetValue(), 2);

    Choose(*pixelType, "Grey (8-bit)");
    dpi->SetValue(150);
    pages->SetValue(3);
    Press(*scan);
    ASSERT_TRUE(RunUntil([&] { return m_twain->pages.size() >= 3; }));
    RunFor(200ms);
    ExpectPagesMadeWith(SmallChart(ChartPixelType::Gray8, 150, 3));
    const TW_IMAGEINFO& info = m_twain->pages[0].info;
    EXPECT_EQ(info.PixelType, TWPT_GRAY);
    EXPECT_EQ(info.BitsPerPixel, 8);
    EXPECT_EQ(info.SamplesPerPixel, 1);
    EXPECT_EQ(info.XResolution.Whole, 150);
}

TEST_F(TestChartWindowTest, TheTitleBarCloseBoxAsksToCloseLikeClose) {
    wxTopLevelWindow* chart = AcquireWithWindow();
    ASSERT_NE(chart, nullptr);
    // The window stays until the application disables the source.
    EXPECT_FALSE(chart->Close());
    EXPECT_TRUE(chart->IsShown());
    ASSERT_TRUE(RunUntil([&] { return !m_twain->IsSourceOpen(); }));
    EXPECT_EQ(m_twain->closeRequests, 1);
    EXPECT_FALSE(Exists(chart));
    EXPECT_TRUE(m_twain->pages.empty());
}

TEST_F(TestChartWindowTest, QuittingWithTheWindowUpTakesItDown) {
    wxTopLevelWindow* chart = AcquireWithWindow();
    ASSERT_NE(chart, nullptr);
    RunFor(200ms);
    m_twain->ReleaseTwain();
    EXPECT_FALSE(m_twain->IsDsmLoaded());
    EXPECT_FALSE(Exists(chart));
    RunFor(300ms);
    EXPECT_TRUE(m_twain->pages.empty());
    EXPECT_EQ(m_twain->closeRequests, 0);
    EXPECT_EQ(GlobalLiveBlockCount(), m_blocksAtStart);
}

TEST_F(TestChartWindowTest, QuittingWithAnnouncedPagesStopsTheBatch) {
    wxTopLevelWindow* chart = AcquireWithWindow();
    ASSERT_NE(chart, nullptr);
    wxChoice* pageSize = FindChoice(chart, "A4 (210 x 297 mm)");
    wxSpinCtrl* pages = FindSpin(chart, TestChartSettings::kMaxPages);
    wxButton* scan = FindButton(chart, "Scan");
    ASSERT_TRUE(pageSize && pages && scan);
    Choose(*pageSize, "US Letter (8.5 x 11 in)");
    pages->SetValue(50);
    Press(*scan);
    // Without running the loop: the source's notification waits in the queue while
    // its worker keeps making pages, and the program quits.
    const auto deadline = Clock::now() + kStepTimeout;
    while (m_twain->pump.Window().QueuedCount() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(m_twain->pump.Window().QueuedCount(), 1u);
    m_twain->ReleaseTwain();
    EXPECT_FALSE(m_twain->IsDsmLoaded());
    EXPECT_FALSE(Exists(chart));
    // The queued notification reaches a CTwain with no DSM left, and is dropped.
    RunFor(300ms);
    EXPECT_EQ(m_twain->pump.Window().QueuedCount(), 0u);
    EXPECT_TRUE(m_twain->pages.empty());
    // The pages its worker had made are freed with the session.
    EXPECT_EQ(GlobalLiveBlockCount(), m_blocksAtStart);
}

TEST_F(TestChartWindowTest, AWindowTheToolkitDestroysLeavesTheSourceWorking) {
    // A parent of its own, so that it can go while the source's window is up.
    auto* parent = new wxFrame(nullptr, wxID_ANY, "Parent");
    parent->Show();
    wxWindow* mainFrame = wxTheApp->GetTopWindow();
    wxTheApp->SetTopWindow(parent);
    wxTopLevelWindow* chart = AcquireWithWindow();
    wxTheApp->SetTopWindow(mainFrame);
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->GetParent(), parent);

    parent->Destroy();
    ASSERT_TRUE(RunUntil([&] { return !Exists(chart); }));
    // The source is still enabled and closes without its window.
    EXPECT_TRUE(m_twain->SourceEnabled());
    m_twain->CloseSource();
    EXPECT_FALSE(m_twain->IsSourceOpen());
    EXPECT_FALSE(m_twain->SourceEnabled());
}
