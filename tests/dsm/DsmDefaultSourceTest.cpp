// The default source (dsm.conf, VELOMARK_DEFAULT_SOURCE, the first found) and
// user-select where no dialog can be shown.
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/dsm/DsmFixture.h"

namespace {

namespace fs = std::filesystem;
using DsmDefaultSourceTest = DsmFixture;

TEST_F(DsmDefaultSourceTest, WithNothingRememberedTheFirstFoundIsTheDefault) {
    OpenDsm();
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    const TW_IDENTITY first = ListSources().front();
    EXPECT_STREQ(identity.ProductName, "Fake Scanner A");
    EXPECT_EQ(identity.Id, first.Id);
    EXPECT_STREQ(identity.Manufacturer, first.Manufacturer);
}

TEST_F(DsmDefaultSourceTest, TheRememberedChoiceIsTheDefaultWhileItExists) {
    WriteDsmConf("# comment\nDefaultSource=Fake Shadow Only\r\n");
    OpenDsm();
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Shadow Only");

    WriteDsmConf("DefaultSource=Fake Uninstalled\n");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Scanner A");

    WriteDsmConf("Fake Shadow Only\nDefaultSource\n");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Scanner A");
}

TEST_F(DsmDefaultSourceTest, AnOversizedConfigurationFileIsNotRead) {
    WriteDsmConf("DefaultSource=Fake Late\n" + std::string(70 * 1024, '#') + "\n");
    OpenDsm();
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Scanner A");
}

TEST_F(DsmDefaultSourceTest, WithoutXdgConfigHomeTheFileIsUnderHome) {
    const std::string home = m_tempDir + "/home";
    fs::create_directories(home + "/.config/velomark");
    std::ofstream(home + "/.config/velomark/dsm.conf") << "DefaultSource=Fake Late\n";
    SetEnv("HOME", home.c_str());
    SetEnv("XDG_CONFIG_HOME", nullptr);
    OpenDsm();
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Late");

    // A relative XDG_CONFIG_HOME is not a configuration folder.
    SetEnv("XDG_CONFIG_HOME", "relative/config");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Late");
}

TEST_F(DsmDefaultSourceTest, TheEnvironmentOverridesTheRememberedChoiceWhenItNamesASource) {
    WriteDsmConf("DefaultSource=Fake Shadow Only\n");
    SetEnv("VELOMARK_DEFAULT_SOURCE", "Fake Late");
    OpenDsm();
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Late");

    SetEnv("VELOMARK_DEFAULT_SOURCE", "Fake Uninstalled");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Shadow Only");
}

TEST_F(DsmDefaultSourceTest, UserSelectWithoutAGuiApplicationReturnsTheDefault) {
    SetEnv("VELOMARK_DEFAULT_SOURCE", "Fake Single");
    OpenDsm();
    TW_IDENTITY identity{};
    std::strcpy(identity.ProductName, "Fake Late");  // a preselection only the dialog uses
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Single");
    EXPECT_EQ(identity.Id, Listed("Fake Single").Id);
    // Nothing was chosen, so nothing is remembered.
    EXPECT_FALSE(ReadDsmConf().has_value());
}

TEST_F(DsmDefaultSourceTest, WithoutSourcesThereIsNoDefault) {
    SetEnv("VELOMARK_SOURCE_PATH", nullptr);
    OpenDsm();
    for (TW_UINT16 msg : {MSG_GETDEFAULT, MSG_USERSELECT, MSG_OPENDS}) {
        TW_IDENTITY identity{};
        EXPECT_EQ(Dsm(DAT_IDENTITY, msg, &identity), TWRC_FAILURE) << msg;
        EXPECT_EQ(Condition(), TWCC_NODS) << msg;
    }
}

}  // namespace
