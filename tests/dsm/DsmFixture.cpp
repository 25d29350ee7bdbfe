#include "tests/dsm/DsmFixture.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

const std::vector<std::string> DsmFixture::kFakeNames = {
    "Fake Scanner A",
    "Fake Scanner B",
    "Fake Single",
    "Fake Shadow Only",
    "Fake Long Name 0123456789abcdefgh",
    "Fake Endless",
    "Fake Late",
};

void DsmFixture::SetUp() {
    char pattern[] = "/tmp/velomark-dsm-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_tempDir = pattern;
    fs::create_directories(m_tempDir + "/lib");
    fs::create_directories(m_tempDir + "/config");

    SetEnv("VELOMARK_SOURCE_PATH",
           (std::string(FAKE_SOURCE_DIR) + ":" + FAKE_SOURCE_DIR_2).c_str());
    SetEnv("XDG_CONFIG_HOME", (m_tempDir + "/config").c_str());
    SetEnv("VELOMARK_DEFAULT_SOURCE", nullptr);
    SetEnv("VELOMARK_UNATTENDED", nullptr);

    std::strcpy(m_app.ProductName, "DSM Test");
    std::strcpy(m_app.Manufacturer, "Velomark Tests");
    m_app.ProtocolMajor = 1;
    m_app.ProtocolMinor = 9;
    m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;

    const std::string copy = m_tempDir + "/lib/libvelomark-dsm.so";
    fs::copy_file(VELOMARK_DSM_LIBRARY, copy);
    LoadDsm(copy);
}

void DsmFixture::TearDown() {
    UnloadDsm();
    std::error_code error;
    if (!m_tempDir.empty()) fs::remove_all(m_tempDir, error);
    for (const auto& [name, value] : m_savedEnv) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

void DsmFixture::LoadDsm(const std::string& path) {
    UnloadDsm();
    m_dsm = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_dsm, nullptr) << dlerror();
    m_entry = reinterpret_cast<DSMENTRYPROC>(dlsym(m_dsm, "DSM_Entry"));
    ASSERT_NE(m_entry, nullptr);
}

void DsmFixture::UnloadDsm() {
    if (!m_dsm) return;
    // Sessions a test left open are closed, so their sources are unloaded too.
    for (TW_IDENTITY& origin : m_openedBy) {
        m_entry(&origin, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &m_window);
    }
    m_openedBy.clear();
    dlclose(m_dsm);
    m_dsm = nullptr;
    m_entry = nullptr;
}

TW_UINT16 DsmFixture::Call(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                           TW_UINT16 msg, TW_MEMREF data) {
    return m_entry(origin, dest, dg, dat, msg, data);
}

TW_UINT16 DsmFixture::Dsm(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, pTW_IDENTITY origin) {
    return m_entry(origin ? origin : &m_app, nullptr, DG_CONTROL, dat, msg, data);
}

TW_UINT16 DsmFixture::ToSource(const TW_IDENTITY& source, TW_UINT32 dg, TW_UINT16 dat,
                               TW_UINT16 msg, TW_MEMREF data) {
    TW_IDENTITY dest = source;
    return m_entry(&m_app, &dest, dg, dat, msg, data);
}

TW_UINT16 DsmFixture::Condition(pTW_IDENTITY origin) {
    TW_STATUS status{0xffff, 0xffff};
    EXPECT_EQ(Dsm(DAT_STATUS, MSG_GET, &status, origin), TWRC_SUCCESS);
    return status.ConditionCode;
}

void DsmFixture::OpenDsm(pTW_IDENTITY origin) {
    pTW_IDENTITY app = origin ? origin : &m_app;
    ASSERT_EQ(Dsm(DAT_PARENT, MSG_OPENDSM, &m_window, app), TWRC_SUCCESS);
    m_openedBy.push_back(*app);
}

void DsmFixture::CloseDsm(pTW_IDENTITY origin) {
    pTW_IDENTITY app = origin ? origin : &m_app;
    EXPECT_EQ(Dsm(DAT_PARENT, MSG_CLOSEDSM, &m_window, app), TWRC_SUCCESS);
    const TW_UINT32 id = app->Id;
    std::erase_if(m_openedBy, [id](const TW_IDENTITY& opened) { return opened.Id == id; });
}

std::vector<TW_IDENTITY> DsmFixture::ListSources() {
    std::vector<TW_IDENTITY> sources;
    TW_IDENTITY identity{};
    TW_UINT16 rc = Dsm(DAT_IDENTITY, MSG_GETFIRST, &identity);
    // Bounded, so that a DSM that never ends its list fails instead of hanging.
    while (rc == TWRC_SUCCESS && sources.size() < 100) {
        sources.push_back(identity);
        identity = {};
        rc = Dsm(DAT_IDENTITY, MSG_GETNEXT, &identity);
    }
    EXPECT_EQ(rc, TWRC_ENDOFLIST);
    return sources;
}

std::vector<std::string> DsmFixture::ListedNames() {
    std::vector<std::string> names;
    for (const TW_IDENTITY& identity : ListSources()) names.emplace_back(identity.ProductName);
    return names;
}

TW_IDENTITY DsmFixture::Listed(const std::string& productName) {
    for (const TW_IDENTITY& identity : ListSources()) {
        if (productName == identity.ProductName) return identity;
    }
    ADD_FAILURE() << "the DSM does not list " << productName;
    return {};
}

TW_IDENTITY DsmFixture::OpenSource(const std::string& productName) {
    TW_IDENTITY source{};
    std::strcpy(source.ProductName, productName.c_str());
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS) << productName;
    return source;
}

void DsmFixture::SetEnv(const char* name, const char* value) {
    if (!m_savedEnv.count(name)) {
        const char* old = getenv(name);
        m_savedEnv[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

void DsmFixture::WriteDsmConf(const std::string& text) {
    fs::create_directories(fs::path(DsmConfPath()).parent_path());
    std::ofstream(DsmConfPath()) << text;
}

std::optional<std::string> DsmFixture::ReadDsmConf() const {
    std::ifstream in(DsmConfPath());
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DsmFixture::FakeSource(const std::string& file) {
    return std::string(FAKE_SOURCE_DIR) + "/" + file;
}

std::string DsmFixture::LateFakeSource(const std::string& file) {
    return std::string(FAKE_SOURCE_DIR_2) + "/" + file;
}
