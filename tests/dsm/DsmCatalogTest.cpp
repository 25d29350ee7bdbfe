// Finding, loading, listing and unloading the source libraries.
#include <algorithm>
#include <filesystem>

#include "tests/dsm/DsmFixture.h"
#include "tests/dsm/FakeSourceProbe.h"
#include "twain/DataSource.h"

namespace {

namespace fs = std::filesystem;
using DsmCatalogTest = DsmFixture;

TEST_F(DsmCatalogTest, ListsInFolderOrderThenFileNameOrderFirstOfaNameWinning) {
    OpenDsm();
    const std::vector<TW_IDENTITY> sources = ListSources();
    std::vector<std::string> names;
    for (const TW_IDENTITY& source : sources) names.emplace_back(source.ProductName);
    EXPECT_EQ(names, kFakeNames);

    // The second folder's 00-fake-late.ds sorts first by name but comes after the first folder,
    // so "Fake Single" is the first folder's; and "Fake Scanner B" is the twin's, not the shadow's.
    EXPECT_STREQ(Listed("Fake Single").Manufacturer, "Single");
    EXPECT_STREQ(Listed("Fake Scanner A").Manufacturer, "Twin");
    EXPECT_STREQ(Listed("Fake Scanner B").Manufacturer, "Twin");
    EXPECT_STREQ(Listed("Fake Shadow Only").Manufacturer, "Shadow");
    EXPECT_STREQ(Listed("Fake Late").Manufacturer, "Late");
    // The rest of each identity is the library's own.
    const TW_IDENTITY a = Listed("Fake Scanner A");
    EXPECT_STREQ(a.ProductFamily, "Fake");
    EXPECT_STREQ(a.Version.Info, "fake");
    EXPECT_EQ(a.ProtocolMinor, 9);
}

TEST_F(DsmCatalogTest, ListedIdsAreAssignedByTheDsmAndDistinct) {
    OpenDsm();
    const std::vector<TW_IDENTITY> sources = ListSources();
    for (size_t i = 0; i < sources.size(); ++i) {
        EXPECT_NE(sources[i].Id, 0u);
        EXPECT_NE(sources[i].Id, 0xdeadu);  // what the fakes put there
        for (size_t j = 0; j < i; ++j) EXPECT_NE(sources[i].Id, sources[j].Id);
    }
    // The same session lists the same Ids again.
    EXPECT_EQ(ListSources()[1].Id, sources[1].Id);
}

TEST_F(DsmCatalogTest, ListingEndsAndRestartsWithGetFirst) {
    OpenDsm();
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETNEXT, &identity), TWRC_ENDOFLIST);  // nothing begun
    ASSERT_EQ(ListSources().size(), kFakeNames.size());
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETNEXT, &identity), TWRC_ENDOFLIST);
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETNEXT, &identity), TWRC_ENDOFLIST);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Scanner A");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETNEXT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Scanner B");
}

TEST_F(DsmCatalogTest, NoSourcesAnywhereListsNothing) {
    SetEnv("VELOMARK_SOURCE_PATH", (m_tempDir + "/nowhere").c_str());
    OpenDsm();
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_ENDOFLIST);
}

TEST_F(DsmCatalogTest, AsksASingleSourceLibraryWithGetOnlyAfterGetFirstFails) {
    OpenDsm();
    ListSources();
    FakeSourceProbe single(FakeSource("20-fake-single.ds"));
    ASSERT_TRUE(single.Attached());
    const std::vector<FakeSourceCall> calls = single.Calls();
    // Then the library's note, which this one does not give.
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].msg, MSG_GETFIRST);
    EXPECT_EQ(calls[1].msg, MSG_GET);
    EXPECT_EQ(calls[2].dat, DAT_VELOMARK_NOTE);
    for (const FakeSourceCall& call : calls) {
        EXPECT_EQ(call.origin, nullptr);
        EXPECT_EQ(call.dg, DG_CONTROL);
    }
    EXPECT_EQ(calls[0].dat, DAT_IDENTITY);
    EXPECT_EQ(calls[1].dat, DAT_IDENTITY);
}

TEST_F(DsmCatalogTest, UnterminatedAndEmptyNamesAreCutAndSkipped) {
    OpenDsm();
    const std::vector<std::string> names = ListedNames();
    // The shadow library fills all 34 bytes of its long name and offers a nameless source.
    EXPECT_EQ(std::count(names.begin(), names.end(), "Fake Long Name 0123456789abcdefgh"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), ""), 0);
}

TEST_F(DsmCatalogTest, StopsAskingALibraryThatNeverEndsItsList) {
    OpenDsm();
    ListSources();
    FakeSourceProbe endless(FakeSource("70-fake-endless.ds"));
    ASSERT_TRUE(endless.Attached());
    EXPECT_EQ(endless.Calls().size(), 64u + 1u);  // and the note
    const std::vector<std::string> names = ListedNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Fake Endless"), 1);
}

TEST_F(DsmCatalogTest, SkipsUnusableLibrariesNamingThemAndUnloadsThem) {
    OpenDsm();
    testing::internal::CaptureStderr();
    ListSources();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("30-fake-noentry.ds: it does not export DS_Entry"), std::string::npos)
        << log;
    EXPECT_NE(log.find("40-not-a-library.ds"), std::string::npos) << log;
    EXPECT_NE(log.find("60-fake-shadowed.ds: its sources are offered earlier"), std::string::npos)
        << log;

    EXPECT_FALSE(FakeSourceProbe::IsLoaded(FakeSource("30-fake-noentry.ds")));
    EXPECT_FALSE(FakeSourceProbe::IsLoaded(FakeSource("60-fake-shadowed.ds")));
    EXPECT_TRUE(FakeSourceProbe::IsLoaded(FakeSource("10-fake-twin.ds")));
    EXPECT_TRUE(FakeSourceProbe::IsLoaded(LateFakeSource("00-fake-late.ds")));
}

TEST_F(DsmCatalogTest, KeepsLibrariesLoadedUntilCloseDsm) {
    OpenDsm();
    OpenSource("Fake Scanner A");
    EXPECT_TRUE(FakeSourceProbe::IsLoaded(FakeSource("50-fake-shadow.ds")));
    CloseDsm();
    for (const char* file :
         {"10-fake-twin.ds", "20-fake-single.ds", "50-fake-shadow.ds", "70-fake-endless.ds"}) {
        EXPECT_FALSE(FakeSourceProbe::IsLoaded(FakeSource(file))) << file;
    }
    EXPECT_FALSE(FakeSourceProbe::IsLoaded(LateFakeSource("00-fake-late.ds")));
}

TEST_F(DsmCatalogTest, SearchesTheFolderBesideTheDsmFirst) {
    fs::create_directories(BuiltInFolder());
    fs::copy_file(LateFakeSource("00-fake-late.ds"), BuiltInFolder() + "/late.ds");
    fs::copy_file(FakeSource("20-fake-single.ds"), BuiltInFolder() + "/single.ds");
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR);
    OpenDsm();
    const std::vector<std::string> names = ListedNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Fake Late");
    EXPECT_EQ(names[1], "Fake Single");
    EXPECT_EQ(names[2], "Fake Scanner A");
    EXPECT_STREQ(Listed("Fake Single").Manufacturer, "Late");
}

TEST_F(DsmCatalogTest, EmptyEntriesOfTheSearchPathAreSkipped) {
    SetEnv("VELOMARK_SOURCE_PATH", (std::string("::") + FAKE_SOURCE_DIR_2 + ":").c_str());
    OpenDsm();
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"Fake Late", "Fake Single"}));
}

TEST_F(DsmCatalogTest, TheBuiltLibraryFindsTheFakesWhateverItsOwnFolderHolds) {
    // The build's own velomark/sources/ may hold real sources; only the fakes are checked.
    LoadDsm(VELOMARK_DSM_LIBRARY);
    OpenDsm();
    std::vector<std::string> fakes;
    for (const std::string& name : ListedNames()) {
        if (name.rfind("Fake ", 0) == 0) fakes.push_back(name);
    }
    EXPECT_EQ(fakes, kFakeNames);
}

}  // namespace
