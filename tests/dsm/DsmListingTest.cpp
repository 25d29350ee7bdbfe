// When the DSM looks for sources (at a session's first triplet that needs identities,
// not at MSG_OPENDSM; at once, on a thread, for a session opened with a window), the notes libraries give for the selection dialog, and the other
// names by which VELOMARK_DEFAULT_SOURCE may name a source.
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/dsm/DsmFixture.h"
#include "tests/dsm/FakeSourceProbe.h"

namespace {

using DsmListingTest = DsmFixture;

const std::string kTwin = "10-fake-twin.ds";
const std::string kSlow = std::string(FAKE_SOURCE_DIR_SLOW) + "/10-fake-slow.ds";

TEST_F(DsmListingTest, OpeningTheDsmLoadsNoSource) {
    testing::internal::CaptureStderr();
    OpenDsm();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(FakeSourceProbe::IsLoaded(FakeSource(kTwin)));
    // Nor are the libraries that cannot be used named yet.
    EXPECT_EQ(log.find("30-fake-noentry.ds"), std::string::npos) << log;
    // MSG_GETNEXT continues a listing; before any there is nothing to continue.
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETNEXT, &identity), TWRC_ENDOFLIST);
    EXPECT_FALSE(FakeSourceProbe::IsLoaded(FakeSource(kTwin)));
    CloseDsm();
    EXPECT_FALSE(FakeSourceProbe::IsLoaded(FakeSource(kTwin)));
}

TEST_F(DsmListingTest, EachTripletThatNeedsIdentitiesListsTheSourcesOnce) {
    for (TW_UINT16 msg : {MSG_GETDEFAULT, MSG_USERSELECT, MSG_GETFIRST, MSG_OPENDS}) {
        SCOPED_TRACE(msg);
        OpenDsm();
        TW_IDENTITY identity{};
        EXPECT_EQ(Dsm(DAT_IDENTITY, msg, &identity), TWRC_SUCCESS);
        EXPECT_STREQ(identity.ProductName, "Fake Scanner A");
        EXPECT_NE(identity.Id, 0u);
        EXPECT_NE(identity.Id, m_app.Id);
        FakeSourceProbe twin(FakeSource(kTwin));
        ASSERT_TRUE(twin.Attached());
        const size_t listingCalls = twin.Calls().size();
        // Listing again would ask the library again; the session keeps its list.
        EXPECT_EQ(ListedNames(), kFakeNames);
        EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
        EXPECT_EQ(twin.Calls().size() - twin.SessionCalls().size(),
                  listingCalls - (msg == MSG_OPENDS ? 1 : 0));
        if (msg == MSG_OPENDS) Dsm(DAT_IDENTITY, MSG_CLOSEDS, &identity);
        CloseDsm();
    }
}

TEST_F(DsmListingTest, ASessionOpenedWithAWindowListsAtOnceAndAsksEachLibraryOnce) {
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR_SLOW);
    MessageWindow window;
    m_window = window.Handle();
    OpenDsm();
    // No triplet yet: the listing loads the library on its own.
    for (int i = 0; i < 500 && !FakeSourceProbe::IsLoaded(kSlow); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(FakeSourceProbe::IsLoaded(kSlow));
    EXPECT_EQ(ListedNames(), std::vector<std::string>{"Fake Slow"});
    FakeSourceProbe slow(kSlow);
    size_t getFirst = 0;
    for (const FakeSourceCall& call : slow.Calls()) getFirst += call.msg == MSG_GETFIRST;
    EXPECT_EQ(getFirst, 1u);
}

TEST_F(DsmListingTest, ClosingWhileTheListingRunsEndsItAndUnloadsTheSources) {
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR_SLOW);
    MessageWindow window;
    m_window = window.Handle();
    OpenDsm();
    CloseDsm();
    EXPECT_FALSE(FakeSourceProbe::IsLoaded(kSlow));
}

TEST_F(DsmListingTest, NotesOfLibrariesWithAndWithoutSourcesAreKept) {
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR_NOTES);
    OpenDsm();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"Fake Noted A", "Fake Noted B"}));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("velomark-dsm: Noted: two scanners found"), std::string::npos) << log;
    EXPECT_NE(log.find("velomark-dsm: Empty: no scanner found"), std::string::npos) << log;
    // The library with nothing to offer is unloaded all the same.
    EXPECT_FALSE(
        FakeSourceProbe::IsLoaded(std::string(FAKE_SOURCE_DIR_NOTES) + "/20-fake-empty.ds"));
}

TEST_F(DsmListingTest, TheDefaultSourceMayBeNamedByItsOtherName) {
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR_NOTES);
    SetEnv("VELOMARK_DEFAULT_SOURCE", "fake:long:Fake Noted B");
    OpenDsm();
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Noted B");
    // A product name still wins, and a name nobody gives leaves the first source.
    SetEnv("VELOMARK_DEFAULT_SOURCE", "Fake Noted A");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Noted A");
    SetEnv("VELOMARK_DEFAULT_SOURCE", "fake:long:Nobody");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Noted A");
}

}  // namespace
