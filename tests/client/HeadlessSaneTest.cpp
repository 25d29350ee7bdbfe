// A SANE scanner end to end: `velomark --headless` with SANE's test device as the
// default source (unattended), velomark-client asking for the pages, and the saved
// pixels compared with what scanimage writes for the same device and options.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/ProgramRun.h"
#include "tests/client/ChildProcess.h"
#include "tests/client/ClientTestFixture.h"
#include "tests/sources/sane/SaneScanimage.h"

namespace velomark::testing {
namespace {

constexpr const char* kOptions = "mode=Color,resolution=25";

class HeadlessSaneTest : public ClientTestFixture {
protected:
    void SetUp() override {
        ClientTestFixture::SetUp();
        if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
        const std::string config = Folder() + "/config";
        std::filesystem::create_directories(config);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("SANE_CONFIG_DIR", SaneTestConfigDir(), 1);
        setenv("VELOMARK_UNATTENDED", "1", 1);
        setenv("VELOMARK_SANE_OPTIONS", kOptions, 1);
        unsetenv("VELOMARK_DSM");
    }
    void TearDown() override {
        ClientTestFixture::TearDown();
        for (const char* name : {"XDG_CONFIG_HOME", "VELOMARK_UNATTENDED", "VELOMARK_SANE_OPTIONS",
                                 "VELOMARK_DEFAULT_SOURCE"})
            unsetenv(name);
        setenv("SANE_CONFIG_DIR", VELOMARK_SANE_NONE_DIR, 1);
    }
    void EndPrograms() override { m_velomark.Stop(); }

    FakeVelomark m_velomark{VELOMARK_PROGRAM_PATH, {"--headless"}, SIGTERM};
};

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST_F(HeadlessSaneTest, PagesOfTheSaneTestDeviceReachTheClientAsScanimageSeesThem) {
    setenv("VELOMARK_DEFAULT_SOURCE", "test:5", 1);  // chosen by its SANE device name
    std::string error;
    ASSERT_TRUE(m_velomark.Start({}, error)) << error;
    const std::string out = Folder() + "/out";
    ProgramOutput result =
        RunProgram({VELOMARK_CLIENT_PATH, "acquire", "-n", "1", "-o", out, "-t", "60"}, 90000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(m_velomark.WaitForEvents("image ", 1));

    // The saved file is a BMP: its packed DIB starts after the 14-byte file header.
    std::vector<uint8_t> file = FileBytes(out + "/image-001.bmp");
    ASSERT_GT(file.size(), 54u);
    file.erase(file.begin(), file.begin() + 14);
    DecodedImage delivered;
    ASSERT_TRUE(DecodeDib(file, &delivered, &error)) << error;

    SaneSettings options;
    ASSERT_TRUE(SaneSettings::Parse(kOptions, &options, &error)) << error;
    DecodedImage reference;
    ASSERT_TRUE(SaneScanimage::Scan("test:5", options, &reference, &error)) << error;
    EXPECT_EQ(FirstDifference(reference, delivered), "");
}

}  // namespace
}  // namespace velomark::testing
