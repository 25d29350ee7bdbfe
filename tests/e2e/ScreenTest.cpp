// What a person sees: the acquired page in its window, found pixel for pixel in a
// screenshot; and a page saved and opened again through the file dialogs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "dib/Dib.h"
#include "tests/e2e/ChartPages.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/e2e/ScreenImage.h"
#include "tests/e2e/X11Input.h"

namespace velomark::e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kMainTitle = "^Velomark$";
constexpr int kScreenTimeoutMs = 30000;
// Menu bar, toolbar and tab row lie above the canvas.
constexpr int kFrameRowsAboveCanvas = 60;

constexpr uint32_t kBarColours[8] = {0xFFFFFF, 0x00FFFF, 0xFFFF00, 0x00FF00,
                                     0xFF00FF, 0x0000FF, 0xFF0000, 0x000000};

class ScreenTest : public E2eFixture {
protected:
    // One unattended page that the client takes: out/image-001.bmp.
    void AcquireOnePage(int width, int height) {
        SetProgramVariable("VELOMARK_UNATTENDED", "1");
        UseTestChart("rgb", width, height, 1);
        ASSERT_NO_FATAL_FAILURE(StartVelomark());
        const std::optional<WindowBox> main = X11Input::WaitForWindow(kMainTitle);
        ASSERT_TRUE(main.has_value());
        m_main = *main;
        const testing::ProgramOutput result =
            RunClient({"acquire", "-n", "1", "-o", Folder() + "/out", "-t", "60"});
        ASSERT_EQ(result.exitCode, 0) << result.err << Velomark().EventText();
        ASSERT_TRUE(Velomark().WaitForEvents("image ", 1, kImageTimeoutMs));
        ASSERT_TRUE(
            LoadChartPage(SmallChart(ChartPixelType::Rgb, width, height, 1, 100), 1, m_page));
    }

    // Screenshots until the page shows (or, with `shown` false, no longer shows) below
    // the frame's bars; the place where it was found.
    std::optional<ScreenPoint> WaitForPageOnScreen(bool shown, const std::string& name) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kScreenTimeoutMs);
        for (int attempt = 0;; ++attempt) {
            std::string error;
            const std::string path = Folder() + "/" + name + std::to_string(attempt) + ".png";
            if (!m_screen.Capture(path, error)) {
                ADD_FAILURE() << error;
                return std::nullopt;
            }
            m_lastShot = path;
            const std::optional<ScreenPoint> at =
                m_screen.Find(m_page, m_main.y + kFrameRowsAboveCanvas);
            if (at.has_value() == shown || Clock::now() >= deadline) return at;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    // A file dialog: the path typed into its name field, then Return.
    WindowBox m_main;
    CDIB m_page;
    ScreenImage m_screen;
    std::string m_lastShot;
};

TEST_F(ScreenTest, AcquiredPageShowsAtTheTopLeftOfItsWindow) {
    ASSERT_NO_FATAL_FAILURE(AcquireOnePage(560, 400));
    const std::optional<ScreenPoint> at = WaitForPageOnScreen(true, "page");
    ASSERT_TRUE(at.has_value()) << "the page is nowhere on " << m_lastShot;
    // Inside the main frame, at the left edge of its canvas.
    EXPECT_LE(at->x - m_main.x, 4);
    EXPECT_LT(at->y - m_main.y, 160);
    // The colour bars at their offsets in the page, and white canvas beside the page.
    const int barRow = m_page.m_nHeight * 38 / 100;
    int x = 0;
    for (uint32_t colour : kBarColours) {
        while (x < m_page.m_nWidth && ColourAt(m_page, x, barRow) != colour) ++x;
        ASSERT_LT(x, m_page.m_nWidth) << std::hex << "bar " << colour << " not in the page";
        EXPECT_EQ(m_screen.Pixel(at->x + x, at->y + barRow), colour) << "bar at " << x;
    }
    EXPECT_EQ(m_screen.Pixel(at->x + m_page.m_nWidth + 8, at->y + barRow), 0xFFFFFFu);
    // For the README: the main window alone, when asked for.
    if (std::getenv("VELOMARK_SAVE_SCREENSHOT")) {
        const std::string window = std::to_string(m_main.width) + "x" +
                                   std::to_string(m_main.height) + "+" + std::to_string(m_main.x) +
                                   "+" + std::to_string(m_main.y);
        const testing::ProgramOutput crop =
            testing::RunProgram({VELOMARK_CONVERT, m_lastShot, "-crop", window, "+repage",
                                 VELOMARK_SOURCE_DIR "/docs/screenshot.png"});
        EXPECT_EQ(crop.exitCode, 0) << crop.err;
    }
    ExitAndExpectCleanEnd();
}

TEST_F(ScreenTest, SavedPageEqualsTheClientsAndOpensAgainInANewWindow) {
    ASSERT_NO_FATAL_FAILURE(AcquireOnePage(400, 300));
    CDIB received;
    ASSERT_TRUE(received.ReadBmp((Folder() + "/out/image-001.bmp").c_str()));

    // File > Save of the acquired page: the dialog asks for a name. A one-letter
    // name in the program's home ("~/p"): the dialog completes names as they are
    // typed, and a name that is whole from its first key leaves it nothing to add.
    const std::string saved = Folder() + "/home/p";
    const std::string typed = "~/p";
    ASSERT_EQ(Velomark().Post(kCommandFileSave), 0);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog("^Save As$", "ctrl+a", typed));
    CDIB file;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(saved) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(file.ReadBmp(saved.c_str())) << saved;
    EXPECT_EQ(CountDifferentPixels(file, received), 0);
    EXPECT_EQ(CountDifferentPixels(file, m_page), 0);

    // Closed, the page leaves the screen; File > Open brings it back in a new window.
    // (Opening a file that is open already only brings its window forward.)
    ASSERT_EQ(Velomark().Send(kCommandFileClose), 0);
    ASSERT_FALSE(WaitForPageOnScreen(false, "closed").has_value()) << m_lastShot;
    ASSERT_EQ(Velomark().Post(kCommandFileOpen), 0);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog("^Open File$", "ctrl+l", typed));
    const std::optional<ScreenPoint> at = WaitForPageOnScreen(true, "opened");
    EXPECT_TRUE(at.has_value()) << "the opened page is nowhere on " << m_lastShot;
    EXPECT_EQ(Velomark().Send(kCommandFileClose), 0);
    ExitAndExpectCleanEnd();
}

TEST_F(ScreenTest, CtrlSOpensTheSaveDialogForTheShownPage) {
    ASSERT_NO_FATAL_FAILURE(AcquireOnePage(400, 300));
    ASSERT_TRUE(WaitForPageOnScreen(true, "page").has_value());
    ASSERT_TRUE(X11Input::PointAt(m_main));
    ASSERT_TRUE(X11Input::Key("ctrl+s"));
    const std::optional<WindowBox> dialog = X11Input::WaitForWindow("^Save As$", 10000);
    EXPECT_TRUE(dialog.has_value()) << "Ctrl+S did not open the Save As dialog";
    if (dialog) {
        ASSERT_TRUE(X11Input::PointAt(*dialog));
        ASSERT_TRUE(X11Input::Key("Escape"));
        ASSERT_TRUE(X11Input::WaitForNoWindow("^Save As$"));
    }
    ExitAndExpectCleanEnd();
}

}  // namespace
}  // namespace velomark::e2e
