// Closing pages as a person does: Ctrl+W and Ctrl+F4 on the tabs, the window's title
// following the active page, and the question an unsaved page asks before it goes.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "client/velomark_client.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/e2e/X11Input.h"

namespace velomark::e2e {
namespace {

constexpr int kTitleTimeoutMs = 20000;

class ClosingTest : public E2eFixture {
protected:
    void StartWithPages(int pages) {
        SetProgramVariable("VELOMARK_UNATTENDED", "1");
        UseTestChart("rgb", 120, 90, pages);
        ASSERT_NO_FATAL_FAILURE(StartVelomark());
    }

    // The title the program last gave its window, and that window on the X server.
    void ExpectTitle(const std::string& title) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kTitleTimeoutMs);
        std::string last;
        while (std::chrono::steady_clock::now() < deadline) {
            for (const std::string& event : Velomark().Events())
                if (event.rfind("title ", 0) == 0) last = event.substr(6);
            if (last == title) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_EQ(last, title) << Velomark().EventText();
        const std::optional<WindowBox> window = X11Input::WaitForWindow("^" + title + "$");
        ASSERT_TRUE(window.has_value()) << title;
        m_main = *window;
    }

    // Keys with the pointer on the main window, where they go without a window manager.
    void KeysOnMain(const char* keys) {
        ASSERT_TRUE(X11Input::PointAt(m_main));
        ASSERT_TRUE(X11Input::Key(keys));
    }

    WindowBox m_main;
};

TEST_F(ClosingTest, TitleFollowsThePagesThatCtrlWAndCtrlF4Close) {
    ASSERT_NO_FATAL_FAILURE(StartWithPages(3));
    const testing::ProgramOutput result =
        RunClient({"acquire", "-n", "3", "-o", Folder() + "/out", "-t", "60"});
    ASSERT_EQ(result.exitCode, 0) << result.err << Velomark().EventText();
    ASSERT_TRUE(Velomark().WaitForEvents("image ", 3, kImageTimeoutMs));
    // The status bar counted the batch once the source told its size.
    EXPECT_EQ(Velomark().CountEvents("progress Page 3 of 3"), 1) << Velomark().EventText();
    // The whole batch came from the source before a window was made for any page.
    const std::string events = Velomark().EventText();
    EXPECT_LT(events.find("progress Page 3 of 3"), events.find("document ")) << events;

    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark - Velomark3"));
    ASSERT_NO_FATAL_FAILURE(KeysOnMain("ctrl+w"));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark - Velomark2"));
    ASSERT_NO_FATAL_FAILURE(KeysOnMain("ctrl+F4"));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark - Velomark1"));
    ASSERT_NO_FATAL_FAILURE(KeysOnMain("ctrl+w"));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark"));
    ExitAndExpectCleanEnd();
}

TEST_F(ClosingTest, UnsavedPageAsksBeforeItClosesAndATakenOneDoesNot) {
    ASSERT_NO_FATAL_FAILURE(StartWithPages(2));
    // A client takes the first page and goes: the second is placed in the channel,
    // where nobody takes it, and exists nowhere else.
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ASSERT_TRUE(Velomark().WaitForEvents("image ", 2, kImageTimeoutMs)) << Velomark().EventText();
    EXPECT_EQ(Velomark().CountEvents("image 120 90 24 Image sent"), 1) << Velomark().EventText();
    ASSERT_EQ(velomark_wait_image(client, kImageTimeoutMs), VELOMARK_OK);
    ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
    ASSERT_EQ(velomark_wait_image(client, kImageTimeoutMs), VELOMARK_OK);
    velomark_close(client);

    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark - Velomark2"));
    ASSERT_NO_FATAL_FAILURE(KeysOnMain("ctrl+w"));
    ASSERT_NO_FATAL_FAILURE(AnswerSaveQuestion("Escape"));  // Cancel: the page stays
    ASSERT_TRUE(X11Input::WaitForNoWindow("^Velomark$"));
    ASSERT_NO_FATAL_FAILURE(KeysOnMain("ctrl+w"));          // and asks again
    ASSERT_NO_FATAL_FAILURE(AnswerSaveQuestion("alt+n"));   // No: it goes unsaved
    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark - Velomark1"));
    // The page the client took closes without a question.
    ASSERT_NO_FATAL_FAILURE(KeysOnMain("ctrl+w"));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle("Velomark"));
    ExitAndExpectCleanEnd();
}

}  // namespace
}  // namespace velomark::e2e
