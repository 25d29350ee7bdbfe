// A SANE scanner end to end: `velomark --headless` with SANE's test device as the
// default source (unattended), velomark-client asking for the pages (plainly or with
// scan settings), and the saved pixels compared with what scanimage writes for the
// same device and options; and drivers that crash, hang or lie, each costing its job
// only.
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
#include "sources/sane/SaneSourceNames.h"
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

// A BMP file the client saved: its packed DIB starts after the 14-byte file header.
bool DecodeBmpFile(const std::string& path, DecodedImage* image, std::string* error) {
    std::vector<uint8_t> file = FileBytes(path);
    if (file.size() <= 54) {
        *error = path + " is missing or short";
        return false;
    }
    file.erase(file.begin(), file.begin() + 14);
    return DecodeDib(file, image, error);
}

// What scanimage gives for `options` (SaneSettings' text) on `device`.
void ExpectScanimagesPixels(const std::string& device, const char* options,
                            const std::string& page) {
    std::string error;
    DecodedImage delivered;
    ASSERT_TRUE(DecodeBmpFile(page, &delivered, &error)) << error;
    SaneSettings settings;
    ASSERT_TRUE(SaneSettings::Parse(options, &settings, &error)) << error;
    DecodedImage reference;
    ASSERT_TRUE(SaneScanimage::Scan(device, settings, &reference, &error)) << error;
    EXPECT_EQ(FirstDifference(reference, delivered), "") << options;
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

    ExpectScanimagesPixels("test:5", kOptions, out + "/image-001.bmp");
}

// A ticket's mode, resolution and area become the device's own options (the area
// from millimetres through 1/1200 inch to the option's unit): the pages are
// scanimage's for the same options.
TEST_F(HeadlessSaneTest, ATicketsSettingsGiveThePixelsScanimageGivesForThem) {
    setenv("VELOMARK_DEFAULT_SOURCE", "test:6", 1);
    std::string error;
    ASSERT_TRUE(m_velomark.Start({}, error)) << error;
    struct Case {
        std::vector<std::string> settings;
        const char* scanimageOptions;
    };
    const Case cases[] = {
        {{"--mode", "gray", "--resolution", "100"}, "mode=Gray,resolution=100"},
        {{"--mode", "color", "--resolution", "50", "--area", "25.4,12.7,50.8,25.4"},
         "mode=Color,resolution=50,tl-x=25.4,tl-y=12.7,br-x=76.2,br-y=38.1"},
    };
    int n = 0;
    for (const Case& scan : cases) {
        const std::string out = Folder() + "/ticket" + std::to_string(++n);
        std::vector<std::string> command = {VELOMARK_CLIENT_PATH, "acquire", "--stream", "-n",
                                            "1", "-o", out, "-t", "60"};
        command.insert(command.end(), scan.settings.begin(), scan.settings.end());
        ProgramOutput result = RunProgram(command, 90000);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ExpectScanimagesPixels("test:6", scan.scanimageOptions, out + "/page-001.bmp");
    }
}

// The test device's feeder holds ten sheets: a ticket for all it holds gets ten
// pages, then the end of the job.
TEST_F(HeadlessSaneTest, AFeederTicketGetsEveryPageTheFeederHoldsThenTheEnd) {
    setenv("VELOMARK_DEFAULT_SOURCE", "test:7", 1);
    std::string error;
    ASSERT_TRUE(m_velomark.Start({}, error)) << error;
    const std::string out = Folder() + "/feeder";
    ProgramOutput result = RunProgram({VELOMARK_CLIENT_PATH, "acquire", "--stream", "--source",
                                       "feeder", "--mode", "gray", "-o", out, "-t", "60"},
                                      90000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(out + "/page-010.bmp")) << result.out << result.err;
    EXPECT_FALSE(std::filesystem::exists(out + "/page-011.bmp"));
}

// A driver that fails in its own way, and the sentence its job ends with.
struct DriverFault {
    const char* backend;  // tests/sources/sane/faulty
    const char* sentence;
};

class HeadlessSaneFaultTest : public HeadlessSaneTest,
                              public ::testing::WithParamInterface<DriverFault> {
protected:
    void SetUp() override {
        HeadlessSaneTest::SetUp();
        // SANE's dll backend looks for backends in LD_LIBRARY_PATH's folders first;
        // the test backend's settings come from the second folder.
        setenv("LD_LIBRARY_PATH", VELOMARK_SANE_FAULTY_BACKENDS, 1);
        const std::string folders =
            std::string(VELOMARK_SANE_FAULTY_CONFIG) + ":" + SaneTestConfigDir();
        setenv("SANE_CONFIG_DIR", folders.c_str(), 1);
        setenv("VELOMARK_SANE_DEADLINE", "2", 1);
    }
    void TearDown() override {
        HeadlessSaneTest::TearDown();
        unsetenv("LD_LIBRARY_PATH");
        unsetenv("VELOMARK_SANE_DEADLINE");
    }
    static std::string ProductName(const std::string& device, const std::string& model) {
        return SaneSourceNames::ProductNames({{device, "", model, ""}}).front();
    }
};

TEST_P(HeadlessSaneFaultTest, TheJobEndsWithItsSentenceAndTheNextJobScansWhole) {
    std::string error;
    ASSERT_TRUE(m_velomark.Start({}, error)) << error;
    const std::string faulty = std::string(GetParam().backend) + ":0";
    ProgramOutput failed = RunProgram({VELOMARK_CLIENT_PATH, "acquire", "--stream", "--device",
                                       ProductName(faulty, "Faulty"), "-o", Folder() + "/lost",
                                       "-t", "60"},
                                      90000);
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_NE(failed.err.find(GetParam().sentence), std::string::npos) << failed.err;
    EXPECT_TRUE(m_velomark.WaitForEvent(std::string("notice ") + GetParam().sentence));

    const std::string out = Folder() + "/out";
    ProgramOutput result = RunProgram({VELOMARK_CLIENT_PATH, "acquire", "--stream", "--device",
                                       ProductName("test:6", "frontend-tester"), "-o", out, "-t",
                                       "60"},
                                      90000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ExpectScanimagesPixels("test:6", kOptions, out + "/page-001.bmp");
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, HeadlessSaneFaultTest,
    ::testing::Values(
        DriverFault{"crashread", "the scanner driver stopped: signal 11 (Segmentation fault)"},
        DriverFault{"hangstart", "the scanner driver did not answer for 2 s"},
        DriverFault{"liar", "the scanner driver reported "}),
    [](const ::testing::TestParamInfo<DriverFault>& info) {
        return std::string(info.param.backend);
    });

}  // namespace
}  // namespace velomark::testing
