// Option text (VELOMARK_SANE_OPTIONS, sane.conf) and the order options are set in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sources/sane/SaneConfigStore.h"
#include "sources/sane/SaneSettings.h"

namespace {

SaneSettings Parsed(const std::string& text) {
    SaneSettings settings;
    std::string error;
    EXPECT_TRUE(SaneSettings::Parse(text, &settings, &error)) << text << ": " << error;
    return settings;
}

TEST(SaneSettings, ParsesNamesAndValuesWithEscapesAndRoundTrips) {
    const SaneSettings settings =
        Parsed(" mode = Color,resolution=150,source=Automatic Document Feeder,x=a\\,b\\=c,");
    ASSERT_EQ(settings.Entries().size(), 4u);
    EXPECT_EQ(*settings.Find("mode"), " Color");  // values are taken as written
    EXPECT_EQ(*settings.Find("source"), "Automatic Document Feeder");
    EXPECT_EQ(*settings.Find("x"), "a,b=c");
    EXPECT_EQ(settings.Find("depth"), nullptr);
    EXPECT_EQ(Parsed(settings.Format()), settings);
    EXPECT_TRUE(Parsed("").Empty());
}

TEST(SaneSettings, RefusesEntriesWithoutNameOrValueAndKeepsTheTarget) {
    SaneSettings settings = Parsed("mode=Gray");
    std::string error;
    EXPECT_FALSE(SaneSettings::Parse("mode=Color,resolution", &settings, &error));
    EXPECT_NE(error.find("resolution"), std::string::npos) << error;
    EXPECT_FALSE(SaneSettings::Parse("=150", &settings, &error));
    EXPECT_EQ(settings, Parsed("mode=Gray"));
}

TEST(SaneSettings, ALaterValueReplacesAndMergeOverrides) {
    SaneSettings settings = Parsed("mode=Gray,resolution=75,mode=Color");
    EXPECT_EQ(settings.Entries().size(), 2u);
    EXPECT_EQ(*settings.Find("mode"), "Color");
    settings.Merge(Parsed("resolution=300,depth=16"));
    EXPECT_EQ(settings.Format(), "mode=Color,resolution=300,depth=16");
}

TEST(SaneSettings, ModeDepthSourceAndResolutionAreSetBeforeTheRest) {
    const SaneSettings settings =
        Parsed("br-y=20,test-picture=Grid,resolution=75,source=ADF,br-x=10,depth=8,mode=Gray");
    std::vector<std::string> order;
    for (const auto& entry : settings.InApplyOrder()) order.push_back(entry.first);
    EXPECT_EQ(order, (std::vector<std::string>{"mode", "depth", "source", "resolution", "br-x",
                                               "br-y", "test-picture"}));
}

class SaneConfigStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/velomark-sane-conf-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        setenv("XDG_CONFIG_HOME", folder, 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_folder);
    }
    std::filesystem::path m_folder;
};

TEST_F(SaneConfigStoreTest, KeepsASectionPerDeviceAndReplacesOnlyItsOwn) {
    EXPECT_EQ(SaneConfigStore::FilePath(), m_folder / "velomark" / "sane.conf");
    EXPECT_TRUE(SaneConfigStore::Load("test:0").Empty());
    std::string error;
    ASSERT_TRUE(SaneConfigStore::Save("test:0", Parsed("mode=Color,resolution=150"), &error));
    ASSERT_TRUE(SaneConfigStore::Save("net:[::1]:test:1", Parsed("mode=Gray"), &error));
    ASSERT_TRUE(SaneConfigStore::Save("test:0", Parsed("source=ADF,x=a\\,b"), &error)) << error;
    EXPECT_EQ(SaneConfigStore::Load("test:0"), Parsed("source=ADF,x=a\\,b"));
    EXPECT_EQ(SaneConfigStore::Load("net:[::1]:test:1"), Parsed("mode=Gray"));
    EXPECT_TRUE(SaneConfigStore::Load("test").Empty());
}

TEST_F(SaneConfigStoreTest, RefusesWhatCannotBeOneLineAndFilesNotItsOwn) {
    std::string error;
    EXPECT_FALSE(SaneConfigStore::Save("test:0", Parsed("mode=Col\nor"), &error));
    EXPECT_FALSE(SaneConfigStore::Save("test\n:0", Parsed("mode=Gray"), &error));
    std::filesystem::create_directories(m_folder / "velomark");
    std::ofstream(m_folder / "velomark" / "sane.conf")
        << std::string(SaneConfigStore::kMaxFileBytes + 1, '#');
    EXPECT_TRUE(SaneConfigStore::Load("test:0").Empty());
    EXPECT_FALSE(SaneConfigStore::Save("test:0", Parsed("mode=Gray"), &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    // Lines outside a section or without '=' are passed over.
    std::ofstream(m_folder / "velomark" / "sane.conf")
        << "mode=Lost\n[test:0]\nno value here\n=x\nmode=Gray\n";
    EXPECT_EQ(SaneConfigStore::Load("test:0"), Parsed("mode=Gray"));
}

}  // namespace
