// The TWAIN stack Linux scanner drivers are built for, against the real program: the
// TWAIN Working Group's DSM and its sample data source, built from ../shared/twain-peers
// at test time (without sanitizers). The source scans a picture of the test's making;
// both of its pages must reach the client with that picture's pixels, as ImageMagick
// decodes it, whichever DSM Velomark runs; through the standard DSM also from
// `velomark --headless`.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "client/velomark_client.h"
#include "dib/Dib.h"
#include "tests/e2e/ChartPages.h"
#include "tests/e2e/E2eFixture.h"

namespace velomark::e2e {
namespace {

const std::string kPeersSource = VELOMARK_SOURCE_DIR "/../shared/twain-peers";
const std::string kPeersBuild = VELOMARK_BUILD_DIR "/twain-peers";
const std::string kDriverFolder = kPeersBuild + "/twain-sources";
const std::string kPicture = kDriverFolder + "/sample/TWAIN_logo.png";
constexpr const char* kSampleName = "TWAIN2 Software Scanner";
// The sample scans a Letter page at 200 dpi (1700 x 2200) and scales its picture by
// whole inches: a 200-dpi picture of 8 x 11 inches is taken pixel for pixel, and the
// page's last 100 columns stay black.
constexpr int kPageWidth = 1700;
constexpr int kPageHeight = 2200;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string RunStep(const std::vector<std::string>& argv, int timeoutMs) {
    const testing::ProgramOutput result = testing::RunProgram(argv, timeoutMs);
    return result.exitCode == 0 ? std::string() : argv[0] + " failed:\n" + result.out + result.err;
}

// The sanitizer's runtime this test runs with, which must come first in a preload list;
// empty in a build without it.
std::string SanitizerRuntime() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t at = line.find('/');
        if (at != std::string::npos && line.find("/libasan.so", at) != std::string::npos)
            return line.substr(at);
    }
    return {};
}

class TwainPeersTest : public E2eFixture {
protected:
    static void SetUpTestSuite() {
        if (!Exists(kPeersSource + "/CMakeLists.txt")) {
            s_buildError = "no TWAIN peers in " + kPeersSource;
            return;
        }
        // The DSM looks for drivers only in the folder fixed when it is built.
        s_buildError = RunStep({"cmake", "-S", kPeersSource, "-B", kPeersBuild,
                            "-DCMAKE_BUILD_TYPE=Release", "-DTWAIN_PEERS_DIR=" + kPeersSource,
                            "-DTWAIN_SOURCES_DIR=" + kDriverFolder},
                           120000);
        if (s_buildError.empty())
            s_buildError = RunStep({"cmake", "--build", kPeersBuild, "-j2"}, 600000);
        // The sample's own picture, widened to 8 x 11 inches at 200 dpi.
        if (s_buildError.empty())
            s_buildError = RunStep({VELOMARK_CONVERT, kPeersSource +
                                    "/TWAIN-Samples/Twain_DS_sample01/images/TWAIN_logo.png",
                                "-background", "white", "-gravity", "northwest", "-extent",
                                "1600x2200", "-units", "PixelsPerInch", "-density", "200",
                                "PNG24:" + kPicture},
                               60000);
    }

    void StartWithSample(Program program = Program::Desktop) {
        ASSERT_TRUE(s_buildError.empty()) << s_buildError;
        UseProgram(program);
        SetProgramVariable("VELOMARK_SOURCE_UI", "0");
        // The standard DSM loads each driver once at MSG_OPENDSM for its identity and
        // unloads it. The sample's FreeImage brings libgomp, whose start-up allocation
        // is then lost with it: loaded from the start, it stays.
        const std::string runtime = SanitizerRuntime();
        SetProgramVariable("LD_PRELOAD", (runtime.empty() ? "" : runtime + " ") + "libgomp.so.1");
        SetProgramVariable("VELOMARK_DEFAULT_SOURCE", kSampleName);
        StartVelomark();
    }

    // A client's request gives the batch's two pages, each in a document of its own.
    void ExpectTwoPicturePages() {
        const std::string out = Folder() + "/out";
        const testing::ProgramOutput result =
            RunClient({"acquire", "-n", "2", "-o", out, "-t", "60"});
        ASSERT_EQ(result.exitCode, 0) << result.err << "\nevents:\n"
                                      << Velomark().EventText() << "\nstderr:\n"
                                      << Velomark().ErrorOutput();
        EXPECT_TRUE(Velomark().WaitForEvents("image ", 2, kImageTimeoutMs));
        const std::string imageEvent = "image " + std::to_string(kPageWidth) + " " +
                                       std::to_string(kPageHeight) + " 24 Image ";
        EXPECT_EQ(Velomark().CountEvents(imageEvent), 2) << Velomark().EventText();
        if (!Headless()) {
            EXPECT_EQ(Velomark().CountEvents("document "), 2) << Velomark().EventText();
        }

        const std::string expectedPath = Folder() + "/expected.bmp";
        ASSERT_EQ(RunStep({VELOMARK_CONVERT, kPicture, "-background", "black", "-gravity",
                       "northwest", "-extent", "1700x2200", "-type", "TrueColor",
                       "BMP3:" + expectedPath},
                      60000),
                  "");
        CDIB expected;
        ASSERT_TRUE(expected.ReadBmp(expectedPath.c_str()));
        for (const char* name : {"/image-001.bmp", "/image-002.bmp"}) {
            CDIB page;
            ASSERT_TRUE(page.ReadBmp((out + name).c_str())) << out + name;
            EXPECT_EQ(CountDifferentPixels(page, expected), 0) << name;
        }
        ExitAndExpectCleanEnd();
    }

    static std::string s_buildError;
};

std::string TwainPeersTest::s_buildError;

class TwainPeersBothTest : public TwainPeersTest,
                          public ::testing::WithParamInterface<Program> {};

TEST_P(TwainPeersBothTest, StandardDsmDeliversTheSampleSourcesPages) {
    SetProgramVariable("VELOMARK_DSM", kPeersBuild + "/libtwaindsm.so");
    ASSERT_NO_FATAL_FAILURE(StartWithSample(GetParam()));
    ExpectTwoPicturePages();
}

INSTANTIATE_TEST_SUITE_P(Programs, TwainPeersBothTest,
                         ::testing::Values(Program::Desktop, Program::Headless),
                         [](const auto& info) { return std::string(ProgramName(info.param)); });

// A grey 100 dpi ticket through either DSM: the sample's pages come at 8 bits, the
// size the resolution gives its Letter page.
class TwainPeersTicketTest : public TwainPeersTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TwainPeersTicketTest, AGreyTicketGivesEightBitPagesOfItsResolution) {
    if (GetParam())
        SetProgramVariable("VELOMARK_DSM", kPeersBuild + "/libtwaindsm.so");
    else
        SetProgramVariable("VELOMARK_TWAIN_DS_DIR", kDriverFolder);
    ASSERT_NO_FATAL_FAILURE(StartWithSample(Program::Headless));
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    velomark_ticket ticket;
    velomark_ticket_init(&ticket);
    ticket.color = VELOMARK_COLOR_GRAY;
    ticket.x_resolution = 100;
    velomark_stream* stream = nullptr;
    ASSERT_EQ(velomark_stream_open_ticket(client, &ticket, 0, &stream), VELOMARK_OK);
    velomark_image* image = nullptr;
    velomark_result result;
    int pages = 0;
    while ((result = velomark_stream_next(stream, &image, kImageTimeoutMs)) == VELOMARK_OK) {
        EXPECT_EQ(image->bits_per_pixel, 8);
        EXPECT_EQ(image->width, kPageWidth / 2);
        EXPECT_EQ(image->height, kPageHeight / 2);
        EXPECT_EQ(image->x_resolution, 100.0);
        velomark_image_release(image);
        ++pages;
    }
    EXPECT_EQ(result, VELOMARK_E_END) << velomark_stream_error(stream) << "\nstderr:\n"
                                      << Velomark().ErrorOutput();
    EXPECT_GE(pages, 1);
    velomark_stream_close(stream);
    velomark_close(client);
    ExitAndExpectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(Managers, TwainPeersTicketTest, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "standard" : "velomark");
                         });

TEST_F(TwainPeersTest, VelomarksDsmDeliversTheSampleSourcesPages) {
    SetProgramVariable("VELOMARK_TWAIN_DS_DIR", kDriverFolder);
    ASSERT_NO_FATAL_FAILURE(StartWithSample());
    ExpectTwoPicturePages();
}

}  // namespace
}  // namespace velomark::e2e
