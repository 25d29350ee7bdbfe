// Velomark's sources as eSCL scanners, end to end: `velomark --headless
// --share=127.0.0.1:0` with the test chart, Debian's sane-airscan (through
// scanimage and a private SANE configuration) as the client, and a raw socket for
// the server's refusals.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/ProgramRun.h"
#include "tests/client/HeadlessFixture.h"
#include "tests/sources/TestChartPages.h"
#include "tests/sources/sane/SaneTestImages.h"

namespace velomark::testing {
namespace {

// Debian's sane-airscan, in the multiarch folder of whatever machine this is.
bool AirscanInstalled() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib", error))
        if (std::filesystem::exists(entry.path() / "sane/libsane-airscan.so.1")) return true;
    return false;
}

class EsclAirscanTest : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        if (std::system("scanimage --version >/dev/null 2>&1") != 0 || !AirscanInstalled())
            GTEST_SKIP() << "scanimage or sane-airscan is not installed";
        setenv("VELOMARK_TESTCHART_SIZE", "letter", 1);
    }
    void TearDown() override {
        HeadlessTest::TearDown();
        setenv("SANE_CONFIG_DIR", VELOMARK_SANE_NONE_DIR, 1);
    }

    // Starts Velomark sharing on a free port and points sane-airscan at it alone.
    void StartSharing() {
        std::string error;
        ASSERT_TRUE(m_velomark.Start({"--share=127.0.0.1:0"}, error)) << error;
        ASSERT_TRUE(m_velomark.WaitForEvent("eSCL: ", 20000));
        for (const std::string& event : m_velomark.Events())
            if (event.rfind("eSCL: ", 0) == 0) m_url = event.substr(6);
        m_port = std::stoi(m_url.substr(m_url.rfind(':') + 1));
        const std::string sane = Folder() + "/sane";
        std::filesystem::create_directories(sane);
        std::ofstream(sane + "/dll.conf") << "airscan\n";
        std::ofstream(sane + "/airscan.conf")
            << "[devices]\n\"Velomark\" = " << m_url << ", eSCL\n[options]\ndiscovery = disable\n";
        setenv("SANE_CONFIG_DIR", sane.c_str(), 1);
    }

    ProgramOutput Scanimage(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {"scanimage", "-d", "airscan:e0:Velomark", "--format=pnm"};
        argv.insert(argv.end(), options.begin(), options.end());
        return RunProgram(argv, 60000);
    }

    // The status code of the server's answer to one raw request; 0 for none.
    int Exchange(const std::string& request) const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return 0;
        }
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string answer;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, size_t(got));
        close(fd);
        return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
    }

    std::string m_url;
    int m_port = 0;
};

constexpr char kSettings[] =
    "<scan:ScanSettings xmlns:scan=\"http://schemas.hp.com/imaging/escl/2011/05/03\" "
    "xmlns:pwg=\"http://www.pwg.org/schemas/2010/12/sm\"><pwg:InputSource>Platen</pwg:InputSource>"
    "</scan:ScanSettings>";

std::string Post(const std::string& path, const std::string& body, const std::string& extra = "") {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extra +
           "Content-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A 5-inch grey square at 100 dpi is the top-left 500 x 500 pixels of the chart's
// Letter page, pixel for pixel (PNG keeps it lossless).
TEST_F(EsclAirscanTest, GreyPageIsTheChartsPixels) {
    StartSharing();
    const std::string path = Folder() + "/grey.pnm";
    const ProgramOutput scan = Scanimage(
        {"--mode", "Gray", "--resolution", "100", "-x", "127", "-y", "127", "-o", path});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    DecodedImage received;
    std::string error;
    ASSERT_TRUE(DecodePnm(FileBytes(path), &received, &error)) << error;

    TestChartSettings settings;
    settings.pixelType = ChartPixelType::Gray8;
    settings.dpi = 100;
    settings.pages = 1;  // a flatbed page is a batch of its own
    settings.feederEnabled = false;
    DecodedImage page;
    ASSERT_TRUE(DecodeDib(GeneratorBytes(settings, 1), &page, &error)) << error;
    DecodedImage expected;
    expected.width = expected.height = 500;
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 500; ++x) expected.pixels.push_back(page.At(x, y));
    EXPECT_EQ(FirstDifference(expected, received), "");
}

// The feeder's three sheets come as three pages; then the batch ends cleanly as out
// of documents.
TEST_F(EsclAirscanTest, FeederJobGivesItsPagesThenEnds) {
    StartSharing();
    const ProgramOutput scan = Scanimage({"--source", "ADF", "--resolution", "75",
                                          "--batch=" + Folder() + "/sheet%d.pnm"});
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    for (int sheet = 1; sheet <= 3; ++sheet)
        EXPECT_TRUE(std::filesystem::exists(Folder() + "/sheet" + std::to_string(sheet) + ".pnm"));
    EXPECT_FALSE(std::filesystem::exists(Folder() + "/sheet4.pnm"));
    EXPECT_NE(scan.err.find("3 pages scanned"), std::string::npos) << scan.err;
}

// A port another program holds: no "eSCL:" line, a sentence and exit status 3; an
// address that is not one: the usage and status 2.
TEST_F(EsclAirscanTest, AnAddressItCannotServeEndsItWithASentence) {
    const int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    const ProgramOutput busy =
        RunProgram({VELOMARK_PROGRAM_PATH, "--headless", "--share=127.0.0.1:" + port});
    close(taken);
    EXPECT_EQ(busy.exitCode, 3);
    EXPECT_EQ(busy.out.find("eSCL:"), std::string::npos) << busy.out;
    EXPECT_NE(busy.err.find("cannot listen on 127.0.0.1:" + port), std::string::npos) << busy.err;
    const ProgramOutput named =
        RunProgram({VELOMARK_PROGRAM_PATH, "--headless", "--share=scanner.example:8090"});
    EXPECT_EQ(named.exitCode, 2);
    EXPECT_NE(named.err.find("usage:"), std::string::npos) << named.err;
}

TEST_F(EsclAirscanTest, HostThatIsNotThisMachineIsMisdirected) {
    StartSharing();
    EXPECT_EQ(Exchange("GET /eSCL/ScannerStatus HTTP/1.1\r\nHost: attacker.example\r\n"
                       "Connection: close\r\n\r\n"),
              421);
    EXPECT_EQ(Exchange("GET /eSCL/ScannerStatus HTTP/1.1\r\nHost: localhost:80\r\n"
                       "Connection: close\r\n\r\n"),
              200);
}

TEST_F(EsclAirscanTest, RequestFromAWebPageIsForbidden) {
    StartSharing();
    EXPECT_EQ(Exchange(Post("/eSCL/ScanJobs", kSettings, "Origin: https://page.example\r\n")),
              403);
    EXPECT_EQ(Exchange(Post("/eSCL/ScanJobs", kSettings)), 201);
}

TEST_F(EsclAirscanTest, DocumentTypeIsRefused) {
    StartSharing();
    const std::string body =
        "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]>" + std::string(kSettings);
    EXPECT_EQ(Exchange(Post("/eSCL/ScanJobs", body)), 400);
}

TEST_F(EsclAirscanTest, UnknownJobIsNotFound) {
    StartSharing();
    EXPECT_EQ(Exchange("GET /eSCL/ScanJobs/00000000-0000-4000-8000-000000000000/NextDocument "
                       "HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"),
              404);
}

TEST_F(EsclAirscanTest, HugeBodyIsRefused) {
    StartSharing();
    // Announced too long, and sent in chunks without a length.
    EXPECT_EQ(Exchange("POST /eSCL/ScanJobs HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                       "Content-Length: 100000\r\n\r\n"),
              413);
    const std::string chunk(60000, ' ');
    char size[16];
    std::snprintf(size, sizeof size, "%zx", chunk.size());
    EXPECT_EQ(Exchange("POST /eSCL/ScanJobs HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                       "Transfer-Encoding: chunked\r\n\r\n" +
                       std::string(size) + "\r\n" + chunk + "\r\n" + size + "\r\n" + chunk +
                       "\r\n0\r\n\r\n"),
              413);
}

}  // namespace
}  // namespace velomark::testing
