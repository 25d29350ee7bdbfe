// Velomark without its Data Source Manager: the message box once, dismissed through
// the X server; then the TWAIN commands and requests are refused while the rest of
// the program works.
#include <gtest/gtest.h>

#include "client/velomark_client.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/e2e/X11Input.h"

namespace velomark::e2e {
namespace {

using NoDsmTest = E2eFixture;

TEST_F(NoDsmTest, BoxIsShownOnceAndTheProgramWorksWithoutTwain) {
    SetProgramVariable("VELOMARK_DSM", Folder() + "/missing/libvelomark-dsm.so");
    ASSERT_NO_FATAL_FAILURE(StartVelomark(false));
    ASSERT_TRUE(Velomark().WaitForEvents("box Unable to load Twain Driver.", 1, kStartTimeoutMs))
        << Velomark().EventText() << Velomark().ErrorOutput();

    // The box comes before the frame is shown: the only visible window of that title.
    const std::optional<WindowBox> box = X11Input::WaitForWindow("^Velomark$");
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(Velomark().CountEvents("shown"), 0);
    ASSERT_TRUE(X11Input::PointAt(*box));
    ASSERT_TRUE(X11Input::Key("Return"));
    ASSERT_TRUE(Velomark().WaitForEvents("box-closed", 1, 20000)) << Velomark().EventText();
    ASSERT_TRUE(Velomark().WaitForEvents("shown", 1, kStartTimeoutMs));
    ASSERT_TRUE(Velomark().WaitForEvents("ready /", 1, kStartTimeoutMs)) << Velomark().EventText();
    EXPECT_EQ(Velomark().CountEvents("box "), 1);

    EXPECT_EQ(Velomark().Send(kCommandAcquire), -1);
    EXPECT_EQ(Velomark().Send(kCommandSelectSource), -1);

    // A client's request is taken up (reset to 0) and nothing follows.
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    EXPECT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    EXPECT_EQ(velomark_wait_status_change(client, VELOMARK_STATUS_ACQUIRE, 20000), VELOMARK_OK);
    int32_t status = -1;
    EXPECT_EQ(velomark_get_status(client, &status), VELOMARK_OK);
    EXPECT_EQ(status, 0);
    // Nothing follows; the status bar says why.
    EXPECT_TRUE(Velomark().WaitForEvents(
        "status Nothing can be acquired: the TWAIN driver is not loaded", 1, 20000))
        << Velomark().EventText();
    velomark_close(client);

    // Documents still come and go: Close is refused without one and taken with one.
    EXPECT_EQ(Velomark().Send(kCommandFileClose), -1);
    EXPECT_EQ(Velomark().Send(kCommandFileNew), 0);
    EXPECT_EQ(Velomark().Send(kCommandFileClose), 0);
    EXPECT_EQ(Velomark().Send(kCommandFileClose), -1);
    EXPECT_EQ(Velomark().CountEvents("image "), 0);
    EXPECT_EQ(Velomark().CountEvents("box "), 1);
    ExitAndExpectCleanEnd();
}

}  // namespace
}  // namespace velomark::e2e
