// The source's own window with dialogs on: chosen and driven through the X server as
// a person does it, and the program closed while the window is open.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "client/velomark_client.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/e2e/ScreenImage.h"
#include "tests/e2e/X11Input.h"

namespace velomark::e2e {
namespace {

constexpr const char* kMainTitle = "^Velomark$";
constexpr const char* kSelectTitle = "^Select Source$";
constexpr const char* kChartTitle = "^Velomark Test Chart$";
constexpr int kChartPages = 2;
// A menu opens a moment after its key; there is no event to wait for outside the program.
constexpr auto kMenuSettle = std::chrono::milliseconds(400);

class SourceWindowTest : public E2eFixture {
protected:
    void StartWithDialogs() {
        UseTestChart("rgb", 200, 150, kChartPages);
        ASSERT_NO_FATAL_FAILURE(StartVelomark());
        const std::optional<WindowBox> main = X11Input::WaitForWindow(kMainTitle);
        ASSERT_TRUE(main.has_value());
        m_main = *main;
    }

    // File menu from the keyboard: F10 opens it, Down enters it, the letter picks.
    void ChooseFromFileMenu(const std::string& mnemonic) {
        ASSERT_TRUE(X11Input::PointAt(m_main));
        ASSERT_TRUE(X11Input::Key("F10"));
        std::this_thread::sleep_for(kMenuSettle);
        ASSERT_TRUE(X11Input::Key("Down"));
        ASSERT_TRUE(X11Input::Key(mnemonic));
    }

    // The DSM's dialog: the source the test chart offers is preselected; Return takes it.
    void ConfirmSelectSourceDialog() {
        const std::optional<WindowBox> dialog = X11Input::WaitForWindow(kSelectTitle);
        ASSERT_TRUE(dialog.has_value()) << Velomark().EventText();
        ASSERT_TRUE(X11Input::PointAt(*dialog));
        ASSERT_TRUE(X11Input::Key("Return"));
        ASSERT_TRUE(X11Input::WaitForNoWindow(kSelectTitle));
    }

    std::string DsmSettings() const {
        std::ifstream file(Folder() + "/config/velomark/dsm.conf");
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Select Source over the socket, confirmed in the dialog; then Acquire opens the
    // source's window.
    void OpenSourceWindowBySocket() {
        ASSERT_EQ(Velomark().Post(kCommandSelectSource), 0);
        ASSERT_NO_FATAL_FAILURE(ConfirmSelectSourceDialog());
        // Sent while the dialog still winds down, the command waits for it and runs after.
        ASSERT_EQ(Velomark().Send(kCommandAcquire), 0) << Velomark().EventText();
        ASSERT_TRUE(X11Input::WaitForWindow(kChartTitle).has_value());
    }

    WindowBox m_main;
};

TEST_F(SourceWindowTest, ExitWhileTheSourceWindowIsOpenEndsCleanly) {
    ASSERT_NO_FATAL_FAILURE(StartWithDialogs());
    ASSERT_NO_FATAL_FAILURE(OpenSourceWindowBySocket());
    ExitAndExpectCleanEnd();
    EXPECT_TRUE(X11Input::FindWindows(kChartTitle).empty());
    EXPECT_EQ(Velomark().CountEvents("image "), 0);
}

TEST_F(SourceWindowTest, PersonSelectsScansAndClosesThroughMenusAndButtons) {
    ASSERT_NO_FATAL_FAILURE(StartWithDialogs());
    ASSERT_NO_FATAL_FAILURE(ChooseFromFileMenu("e"));  // S&elect Source...
    ASSERT_NO_FATAL_FAILURE(ConfirmSelectSourceDialog());
    EXPECT_NE(DsmSettings().find("DefaultSource=Velomark Test Chart\n"), std::string::npos)
        << DsmSettings();

    ASSERT_NO_FATAL_FAILURE(ChooseFromFileMenu("c"));  // A&cquire...
    const std::optional<WindowBox> chart = X11Input::WaitForWindow(kChartTitle);
    ASSERT_TRUE(chart.has_value()) << Velomark().EventText();
    EXPECT_EQ(Velomark().CountEvents("image "), 0);

    ASSERT_TRUE(X11Input::PointAt(*chart));
    ASSERT_TRUE(X11Input::Key("alt+s"));  // &Scan
    EXPECT_TRUE(Velomark().WaitForEvents("image 200 150 24 ", kChartPages, kImageTimeoutMs))
        << Velomark().EventText();
    EXPECT_EQ(Velomark().CountEvents("document "), kChartPages);

    ASSERT_TRUE(X11Input::Key("alt+c"));  // &Close
    EXPECT_TRUE(X11Input::WaitForNoWindow(kChartTitle));
    // The source is closed: the next acquisition opens its window again.
    EXPECT_EQ(Velomark().Send(kCommandAcquire), 0);
    EXPECT_TRUE(X11Input::WaitForWindow(kChartTitle).has_value());
    // No client took either page: Exit asks about both first.
    ExitAndExpectCleanEnd("alt+n", kChartPages);
}

TEST_F(SourceWindowTest, AClientsRequestWhileTheWindowIsOpenGetsThePagesScannedAfterIt) {
    ASSERT_NO_FATAL_FAILURE(StartWithDialogs());
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    auto scanAndTake = [&](const WindowBox& chart) {
        ASSERT_TRUE(X11Input::PointAt(chart));
        ASSERT_TRUE(X11Input::Key("alt+s"));  // &Scan
        for (int page = 1; page <= kChartPages; ++page) {
            ASSERT_EQ(velomark_wait_image(client, kImageTimeoutMs), VELOMARK_OK)
                << "page " << page << "\n" << Velomark().EventText();
            ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
        }
    };
    // The request opens the default source's window.
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    const std::optional<WindowBox> chart = X11Input::WaitForWindow(kChartTitle);
    ASSERT_TRUE(chart.has_value()) << Velomark().EventText();
    ASSERT_NO_FATAL_FAILURE(scanAndTake(*chart));
    // Asked again while the window stays open: the request joins the acquisition.
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ASSERT_EQ(velomark_wait_status_change(client, VELOMARK_STATUS_ACQUIRE, kImageTimeoutMs),
              VELOMARK_OK);
    ASSERT_NO_FATAL_FAILURE(scanAndTake(*chart));

    ASSERT_TRUE(X11Input::Key("alt+c"));  // &Close
    EXPECT_TRUE(X11Input::WaitForNoWindow(kChartTitle));
    // The request was answered: nothing opens the window again.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(X11Input::FindWindows(kChartTitle).empty()) << Velomark().EventText();
    EXPECT_EQ(Velomark().CountEvents("document "), 2 * kChartPages);
    velomark_close(client);
    ExitAndExpectCleanEnd();  // every page reached the client: nothing asks
}

TEST_F(SourceWindowTest, SourceWindowClosesBeforeAnyScan) {
    ASSERT_NO_FATAL_FAILURE(StartWithDialogs());
    ASSERT_NO_FATAL_FAILURE(OpenSourceWindowBySocket());
    const std::optional<WindowBox> chart = X11Input::WaitForWindow(kChartTitle);
    ASSERT_TRUE(chart.has_value());
    ASSERT_TRUE(X11Input::PointAt(*chart));
    ASSERT_TRUE(X11Input::Key("alt+c"));  // &Close, with no document open yet
    if (!X11Input::WaitForNoWindow(kChartTitle, 10000)) {
        ScreenImage screen;
        std::string error;
        screen.Capture(Folder() + "/chart-window.png", error);
        ADD_FAILURE() << "the source's Close button did not close it: see chart-window.png";
    }
    ExitAndExpectCleanEnd();
}

}  // namespace
}  // namespace velomark::e2e
