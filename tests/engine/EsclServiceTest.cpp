// The network scanners' endpoints and jobs without sockets: requests go straight to
// EsclService, the test plays the engine (it starts, feeds and ends the jobs it was
// handed), and pages come back as PNG files decoded here.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "engine/EsclAnnouncer.h"
#include "engine/EsclJob.h"
#include "engine/EsclServer.h"
#include "engine/EsclService.h"
#include "twain/ScanTicket.h"

namespace velomark {
namespace {

constexpr char kSettings[] =
    "<scan:ScanSettings xmlns:scan=\"http://schemas.hp.com/imaging/escl/2011/05/03\" "
    "xmlns:pwg=\"http://www.pwg.org/schemas/2010/12/sm\"><pwg:InputSource>Feeder</pwg:InputSource>"
    "<pwg:DocumentFormat>image/png</pwg:DocumentFormat></scan:ScanSettings>";

// A 2 x 2 packed 24-bit DIB, bottom-up: a red and a green pixel over white and blue.
std::vector<unsigned char> SmallPage() {
    std::vector<unsigned char> dib(40 + 2 * 8, 0);
    const unsigned char header[] = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    std::copy(std::begin(header), std::end(header), dib.begin());
    const unsigned char rows[] = {255, 255, 255, 255, 0, 0, 0, 0,   // bottom: white, blue
                                  0,   0,   255, 0,   255, 0, 0, 0};  // top: red, green
    std::copy(std::begin(rows), std::end(rows), dib.begin() + 40);
    return dib;
}

class EsclServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        SourceAbilities chart;
        chart.name = "Chart";
        chart.isDefault = true;
        chart.flatbed = chart.feeder = true;
        chart.feederLoaded = 1;
        SourceAbilities other = chart;
        other.name = "Other";
        other.isDefault = false;
        service.SetSources({other, chart}, "host");
    }
    EsclReply Ask(const std::string& method, const std::string& path, const std::string& body = "") {
        return service.Handle(EsclRequest{method, path, body});
    }
    // POSTs a job: its path.
    std::string Post(const std::string& scanner = "/eSCL") {
        const EsclReply reply = Ask("POST", scanner + "/ScanJobs", kSettings);
        EXPECT_EQ(reply.status, 201) << reply.body;
        return reply.location;
    }
    std::shared_ptr<EsclJob> Job(size_t i) { return std::static_pointer_cast<EsclJob>(submitted.at(i)); }

    std::vector<ScanTicket> tickets;
    std::vector<std::shared_ptr<JobRequester>> submitted;
    EsclService service{[this](const ScanTicket& ticket, std::shared_ptr<JobRequester> job) {
                            tickets.push_back(ticket);
                            submitted.push_back(std::move(job));
                            return true;
                        },
                        EsclService::Limits{}};
};

TEST_F(EsclServiceTest, AJobGivesItsPageThenNotFoundAndDeleteIsOk) {
    const std::string job = Post();
    EXPECT_EQ(job.rfind("/eSCL/ScanJobs/", 0), 0u);
    Job(0)->Started();
    const std::vector<unsigned char> page = SmallPage();
    Job(0)->TakePage(page.data(), page.size(), TW_IMAGEINFO{});
    Job(0)->End();

    const EsclReply document = Ask("GET", job + "/NextDocument");
    ASSERT_EQ(document.status, 200);
    EXPECT_EQ(document.contentType, "image/png");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, document.body.data(), document.body.size()));
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(pixels, (std::vector<unsigned char>{255, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0, 255}));

    EXPECT_EQ(Ask("GET", job + "/NextDocument").status, 404);
    EXPECT_NE(Ask("GET", job + "/ScanImageInfo").body.find("<scan:ActualWidth>2<"), std::string::npos);
    EXPECT_EQ(Ask("DELETE", job).status, 200);
    EXPECT_EQ(Ask("DELETE", "/eSCL/ScanJobs/unknown").status, 404);
}

TEST_F(EsclServiceTest, NextDocumentWaitsForThePage) {
    const std::string job = Post();
    EsclReply reply;
    std::thread client([&] { reply = Ask("GET", job + "/NextDocument"); });
    const std::vector<unsigned char> page = SmallPage();
    Job(0)->Started();
    Job(0)->TakePage(page.data(), page.size(), TW_IMAGEINFO{});
    client.join();
    EXPECT_EQ(reply.status, 200);
}

TEST_F(EsclServiceTest, AFailedJobSaysWhyInsteadOfEndingQuietly) {
    const std::string job = Post();
    Job(0)->Fail("the source has no document feeder");
    const EsclReply reply = Ask("GET", job + "/NextDocument");
    EXPECT_EQ(reply.status, 500);
    EXPECT_NE(reply.body.find("no document feeder"), std::string::npos);
}

TEST_F(EsclServiceTest, ANinthWaitingJobIsRefusedUntilOneStarts) {
    for (int i = 0; i < 8; ++i) Post();
    EXPECT_EQ(Ask("POST", "/eSCL/ScanJobs", kSettings).status, 503);
    Job(0)->Started();
    Post();
}

TEST_F(EsclServiceTest, AFeederThatRunsOutIsReportedEmptyUntilTheNextJob) {
    auto adf = [this] {
        const std::string status = Ask("GET", "/eSCL/ScannerStatus").body;
        return status.substr(status.find("<scan:AdfState>") + 15, 16);
    };
    EXPECT_EQ(adf(), "ScannerAdfLoaded");
    const std::string job = Post();
    Job(0)->Started();
    Job(0)->End();
    EXPECT_EQ(Ask("GET", job + "/NextDocument").status, 404);
    EXPECT_EQ(adf(), "ScannerAdfEmpty<");
    Post();
    EXPECT_EQ(adf(), "ScannerAdfLoaded");
}

TEST_F(EsclServiceTest, AJobWhoseClientWentAwayIsCancelledThenForgotten) {
    const std::string job = Post();
    Job(0)->Started();
    const auto now = EsclService::Clock::now();
    service.Sweep(now + std::chrono::seconds(30));
    EXPECT_TRUE(Job(0)->Open());
    service.Sweep(now + std::chrono::seconds(61));
    EXPECT_FALSE(Job(0)->Open());  // the engine drops its pages
    EXPECT_EQ(Ask("DELETE", job).status, 200);
    service.Sweep(now + std::chrono::seconds(61 + 301));
    EXPECT_EQ(Ask("DELETE", job).status, 404);
}

TEST_F(EsclServiceTest, EachSourceIsAScannerOfItsOwnAndTheDefaultAtTheRoot) {
    EXPECT_EQ(Post("/eSCL/1").rfind("/eSCL/1/ScanJobs/", 0), 0u);
    Post("/eSCL");
    EXPECT_EQ(tickets.at(0).device, "Other");
    EXPECT_EQ(tickets.at(1).device, "");  // the engine's default when it runs
    EXPECT_EQ(Ask("GET", "/eSCL/3/ScannerCapabilities").status, 404);
    const std::string root = Ask("GET", "/eSCL/ScannerCapabilities").body;
    EXPECT_NE(root.find("<pwg:MakeAndModel>Chart<"), std::string::npos);
    EXPECT_NE(root.find(StableUuid("host", "Chart")), std::string::npos);
    EXPECT_NE(StableUuid("host", "Chart"), StableUuid("host", "Other"));
    EXPECT_NE(StableUuid("host", "Chart"), StableUuid("elsewhere", "Chart"));
}

TEST_F(EsclServiceTest, TheAnnouncedRecordNamesTheScannerAndAnIconItServes) {
    const EsclScanner chart = service.Scanners().at(1);
    const std::vector<std::string> txt = UscanTxt(chart, "http://box.local:8090");
    auto has = [&](const std::string& item) {
        return std::find(txt.begin(), txt.end(), item) != txt.end();
    };
    EXPECT_TRUE(has("rs=eSCL/2"));  // no leading slash
    EXPECT_TRUE(has("uuid=" + chart.uuid));
    EXPECT_TRUE(has("ty=Chart"));
    EXPECT_TRUE(has("is=platen,adf"));
    EXPECT_TRUE(has("representation=http://box.local:8090/eSCL/2/icon.png"));
    const EsclReply icon = Ask("GET", "/eSCL/2/icon.png");
    ASSERT_EQ(icon.status, 200);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, icon.body.data(), icon.body.size()));
    EXPECT_EQ(image.width, 128u);
    EXPECT_EQ(image.height, 128u);
    png_image_free(&image);
}

TEST(EsclHostTest, OnlyNamesOfThisMachineAreServed) {
    for (const char* host : {"127.0.0.1", "127.0.0.1:8090", "[::1]:8090", "[fe80::1]", "localhost",
                             "LOCALHOST.", "scanhost", "scanhost.local:80"})
        EXPECT_TRUE(HostHeaderAllowed(host, "scanhost")) << host;
    for (const char* host : {"evil.example", "scanhost.evil.example", "127.0.0.1:port", "[::1",
                             "[::1]x", "::1", "", "localhost:99999"})
        EXPECT_FALSE(HostHeaderAllowed(host, "scanhost")) << host;
}

TEST(EsclOriginTest, OnlyListedOriginsAndTheServersOwnPass) {
    const std::vector<std::string> listed = {"https://app.example"};
    EXPECT_TRUE(OriginAllowed("https://app.example", "127.0.0.1:8090", listed));
    EXPECT_TRUE(OriginAllowed("http://127.0.0.1:8090", "127.0.0.1:8090", listed));
    for (const char* origin : {"http://127.0.0.1:8091", "https://127.0.0.1:8090", "null", "*"})
        EXPECT_FALSE(OriginAllowed(origin, "127.0.0.1:8090", listed)) << origin;
}

// Only the table's files are read: a path that climbs out reads nothing, though the
// file it names exists.
TEST(EsclWebFilesTest, APathOutsideTheTableReadsNothing) {
    const std::string folder = ::testing::TempDir() + "web-files";
    std::filesystem::create_directories(folder + "/web");
    std::ofstream(folder + "/web/index.html") << "page";
    std::ofstream(folder + "/secret") << "secret";
    const EsclWebFiles files(folder + "/web");
    std::string body, type;
    EXPECT_TRUE(files.Read("/", &body, &type));
    EXPECT_EQ(body, "page");
    for (const char* path : {"/../secret", "/index.html/../../secret", "//secret", "/secret"})
        EXPECT_FALSE(files.Read(path, &body, &type)) << path;
}

}  // namespace
}  // namespace velomark
