// Loads a private copy of libvelomark-dsm.so from a fresh temporary folder
// (<temp>/lib), so that the DSM's built-in source folder is
// <temp>/lib/velomark/sources, empty unless a test puts sources there. The
// search path holds the fake sources' two folders, XDG_CONFIG_HOME is
// <temp>/config, and every variable the DSM reads is restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "twain/TwainTypes.h"

class DsmFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Unloads the DSM and loads the library at `path` instead.
    void LoadDsm(const std::string& path);

    TW_UINT16 Call(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                   TW_UINT16 msg, TW_MEMREF data);
    // A DG_CONTROL triplet from the test's application to the DSM.
    TW_UINT16 Dsm(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, pTW_IDENTITY origin = nullptr);
    // A triplet from the test's application to a source.
    TW_UINT16 ToSource(const TW_IDENTITY& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data);
    // The DSM's condition code for the origin, read with DAT_STATUS.
    TW_UINT16 Condition(pTW_IDENTITY origin = nullptr);

    void OpenDsm(pTW_IDENTITY origin = nullptr);
    void CloseDsm(pTW_IDENTITY origin = nullptr);
    // The sources the DSM lists, through MSG_GETFIRST and MSG_GETNEXT.
    std::vector<TW_IDENTITY> ListSources();
    std::vector<std::string> ListedNames();
    // The listed identity with this product name; fails the test when there is none.
    TW_IDENTITY Listed(const std::string& productName);
    TW_IDENTITY OpenSource(const std::string& productName);

    void SetEnv(const char* name, const char* value);  // null unsets
    void WriteDsmConf(const std::string& text);
    std::optional<std::string> ReadDsmConf() const;

    std::string DsmConfPath() const { return m_tempDir + "/config/velomark/dsm.conf"; }
    std::string BuiltInFolder() const { return m_tempDir + "/lib/velomark/sources"; }
    static std::string FakeSource(const std::string& file);
    static std::string LateFakeSource(const std::string& file);

    // The fake sources in their listing order, when the built-in folder is empty.
    static const std::vector<std::string> kFakeNames;

    TW_IDENTITY m_app{};
    HWND m_window = nullptr;
    std::string m_tempDir;

private:
    void UnloadDsm();

    void* m_dsm = nullptr;
    DSMENTRYPROC m_entry = nullptr;
    std::vector<TW_IDENTITY> m_openedBy;  // copies: a test's identities may be gone at TearDown
    std::map<std::string, std::optional<std::string>> m_savedEnv;
};
