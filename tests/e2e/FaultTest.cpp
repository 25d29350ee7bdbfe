// Clients that misbehave on purpose, and a Velomark that dies, against the real
// program: after each fault the program is alive and answers (or ended cleanly),
// its sanitizers said nothing (the fixture checks), and every page a client takes
// afterwards is whole.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "client/velomark_client.h"
#include "dib/Dib.h"
#include "tests/e2e/ChartPages.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/e2e/X11Input.h"

namespace velomark::e2e {
namespace {

constexpr int kWidth = 97;
constexpr int kHeight = 45;
constexpr int kPages = 4;

class FaultTest : public E2eFixture {
protected:
    void StartUnattended(int pages = kPages) {
        m_pages = pages;
        SetProgramVariable("VELOMARK_UNATTENDED", "1");
        UseTestChart("rgb", kWidth, kHeight, pages);
        ASSERT_NO_FATAL_FAILURE(StartVelomark());
    }

    // Whether the image now in the data block is one of the chart's pages, whole;
    // `why` says what is wrong otherwise.
    bool HoldsAWholePage(velomark_client* client, std::string& why) {
        size_t size = 0;
        if (velomark_image_size(client, &size) != VELOMARK_OK) {
            why = std::string("no image size: ") + velomark_last_error(client);
            return false;
        }
        HGLOBAL copy = GlobalAlloc(GHND, size);
        const bool copied = velomark_copy_image(client, GlobalLock(copy), size, &size) == VELOMARK_OK;
        GlobalUnlock(copy);
        CDIB received;
        const bool loaded = copied && received.CreateFromHandle(copy, 24);
        GlobalFree(copy);
        if (!loaded) {
            why = "the image cannot be read";
            return false;
        }
        const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, kWidth, kHeight, m_pages, 100);
        for (int page = 1; page <= m_pages; ++page) {
            CDIB expected;
            if (LoadChartPage(settings, page, expected) && CountDifferentPixels(received, expected) == 0)
                return true;
        }
        why = "the image matches none of the chart's pages";
        return false;
    }

    // A well-behaved client takes a whole batch: Velomark still works.
    void ExpectABatchIsDelivered() {
        const testing::ProgramOutput result = RunClient(
            {"acquire", "-n", std::to_string(m_pages), "-o", Folder() + "/after", "-t", "60"});
        ASSERT_EQ(result.exitCode, 0) << result.err << Velomark().EventText();
    }

    int m_pages = kPages;
};

TEST_F(FaultTest, ClientKilledInTheMiddleOfACopyThenANewClientTakesThePages) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended());
    const std::vector<std::string> argv = {VELOMARK_CLIENT_PATH, "acquire", "-n",
                                           std::to_string(kPages), "-o", Folder() + "/killed",
                                           "-t", "60"};
    testing::ChildProcess killed(argv);
    ASSERT_TRUE(killed.Started());
    ASSERT_TRUE(Velomark().WaitForEvents("image ", 2, kImageTimeoutMs)) << Velomark().EventText();
    killed.Signal(SIGKILL);
    EXPECT_NE(killed.Wait(10000), -1);

    // The page the killed client held stays in the block; the new one takes it
    // and every page after it.
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    int taken = 0;
    while (velomark_wait_image(client, 5000) == VELOMARK_OK) {
        std::string why;
        EXPECT_TRUE(HoldsAWholePage(client, why)) << why;
        ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
        ++taken;
    }
    velomark_close(client);
    EXPECT_EQ(Velomark().CountEvents("image "), kPages) << Velomark().EventText();
    // A fast client may have taken the whole batch before the kill; what it wrote and
    // what the new client took make the batch, but for one page it may have
    // acknowledged and not yet written.
    int written = 0;
    std::error_code none;  // killed before it made its folder: nothing written
    for (const auto& entry : std::filesystem::directory_iterator(Folder() + "/killed", none))
        if (entry.path().filename().string().front() != '.') ++written;
    EXPECT_GE(written + taken, kPages - 1) << written << " written, " << taken << " taken";
    ASSERT_NO_FATAL_FAILURE(ExpectABatchIsDelivered());
    ExitAndExpectCleanEnd();
}

TEST_F(FaultTest, RandomStatusValuesSeveralTimesAMillisecondDuringABatch) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended());
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ASSERT_EQ(velomark_wait_status_change(client, VELOMARK_STATUS_ACQUIRE, kImageTimeoutMs),
              VELOMARK_OK);
    // Any value but the two requests, whose effects are wanted ones (a new batch
    // drops the pages still waiting).
    std::mt19937 random(15);
    int writes = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        int32_t value = static_cast<int32_t>(random());
        if (random() % 2) value = value % 8 - 1;
        if (value == VELOMARK_STATUS_SELECT_SOURCE || value == VELOMARK_STATUS_ACQUIRE) continue;
        velomark_set_status(client, value);
        ++writes;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_GT(writes, 3000);
    // The pages still waiting come one by one once the client behaves.
    velomark_set_status(client, VELOMARK_STATUS_IDLE);
    ASSERT_TRUE(Velomark().WaitForEvents("image ", kPages, kImageTimeoutMs)) << Velomark().EventText();
    while (velomark_wait_image(client, 3000) == VELOMARK_OK) {
        std::string why;
        EXPECT_TRUE(HoldsAWholePage(client, why)) << why;
        ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
    }
    velomark_close(client);
    ASSERT_NO_FATAL_FAILURE(ExpectABatchIsDelivered());
    ExitAndExpectCleanEnd();
}

TEST_F(FaultTest, GarbageInTheDataSectionBetweenRequests) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended());
    const int section = open(SectionFile("dllmemfilemap").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(section, 0);
    std::mt19937 random(16);
    std::vector<unsigned char> garbage(1 << 16);
    for (int round = 0; round < 5; ++round) {
        for (unsigned char& byte : garbage) byte = static_cast<unsigned char>(random());
        ASSERT_EQ(pwrite(section, garbage.data(), garbage.size(), 0),
                  static_cast<ssize_t>(garbage.size()));
        // Velomark reads the command text out of the garbage, and ignores it.
        EXPECT_EQ(Velomark().Send(VELOMARK_ID_GET_DIB_BITES), 0);
        ASSERT_NO_FATAL_FAILURE(ExpectABatchIsDelivered());
    }
    close(section);
    // The last page's event follows its hand-off, which the client may see first.
    EXPECT_TRUE(Velomark().WaitForEvents("image ", 5 * kPages, kImageTimeoutMs));
    EXPECT_EQ(Velomark().CountEvents("image "), 5 * kPages) << Velomark().EventText();
    ExitAndExpectCleanEnd();
}

TEST_F(FaultTest, HalfARequestHeldOpenAndTwoHundredConnectionsDropped) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended());
    std::string path;
    for (const std::string& event : Velomark().Events())
        if (event.rfind("ready ", 0) == 0) path = event.substr(6);
    auto connect = [&] {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    const unsigned char half[10] = {0x11, 0x01};
    const int held = connect();
    ASSERT_EQ(send(held, half, sizeof half, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof half));
    for (int i = 0; i < 200; ++i) {
        const int dropped = connect();
        if (i % 2) send(dropped, half, 1 + i % 9, MSG_NOSIGNAL);
        close(dropped);
    }
    // Commands still run while the half request waits.
    ASSERT_NO_FATAL_FAILURE(ExpectABatchIsDelivered());
    EXPECT_EQ(Velomark().Send(1), -1);  // an unknown command is refused, not lost
    close(held);
    ExitAndExpectCleanEnd();
}

TEST_F(FaultTest, VelomarkKilledMidBatchLeavesNoTornImageAndTheNextStartsCleanly) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended(40));
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    // Take pages as they come until the program is killed, in the middle of placing one.
    std::atomic<bool> stop{false};
    std::thread killer([&] {
        Velomark().WaitForEvents("image ", 6, kImageTimeoutMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        Velomark().Kill();
        stop = true;
    });
    int taken = 0;
    while (!stop) {
        if (velomark_wait_image(client, 50) != VELOMARK_OK) continue;
        std::string why;
        EXPECT_TRUE(HoldsAWholePage(client, why)) << why;
        velomark_acknowledge(client);
        ++taken;
    }
    killer.join();
    int32_t status = 0;
    ASSERT_EQ(velomark_get_status(client, &status), VELOMARK_OK);
    if (status == VELOMARK_STATUS_IMAGE_READY) {
        std::string why;
        EXPECT_TRUE(HoldsAWholePage(client, why)) << "after the kill: " << why;
        velomark_acknowledge(client);
    }
    EXPECT_GE(taken, 1);

    // The next program finds the client's sections and a socket file left behind.
    m_pages = kPages;
    UseTestChart("rgb", kWidth, kHeight, kPages);
    ASSERT_NO_FATAL_FAILURE(StartVelomark(false));
    ASSERT_TRUE(Velomark().WaitForEvents("ready /", 2, kStartTimeoutMs)) << Velomark().EventText();
    velomark_close(client);
    ASSERT_NO_FATAL_FAILURE(ExpectABatchIsDelivered());
    ExitAndExpectCleanEnd();
}

TEST_F(FaultTest, SaveOntoAFullDiskFailsWithItsReasonAndTheProgramLivesOn) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended(1));
    ASSERT_NO_FATAL_FAILURE(ExpectABatchIsDelivered());
    // The page's BMP is about 13 KB: the disk is "full" after 4 KB.
    const rlimit limit{4096, RLIM_INFINITY};
    ASSERT_EQ(prlimit(Velomark().Pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    constexpr uint16_t kCommandFileSaveAs = 57604;
    ASSERT_EQ(Velomark().Post(kCommandFileSaveAs), 0);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog("^Save As$", "ctrl+a", "~/full.bmp"));
    const std::optional<WindowBox> error = X11Input::WaitForWindow("Error", 30000);
    ASSERT_TRUE(error.has_value()) << Velomark().EventText() << Velomark().ErrorOutput();
    ASSERT_TRUE(X11Input::PointAt(*error));
    ASSERT_TRUE(X11Input::Key("Return"));
    // Nothing half-written stays behind, and the program still answers.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(Folder() + "/home"))
        if (entry.path().filename().string().find("full") != std::string::npos)
            left.push_back(entry.path().filename());
    EXPECT_TRUE(left.empty()) << left.front();
    EXPECT_EQ(Velomark().Send(1), -1);
    ExitAndExpectCleanEnd();
}

TEST_F(FaultTest, ASaneScannerWhoseReadsFailEndsTheBatchAndTheProgramLivesOn) {
    // SANE's test backend, told to fail its reads: a jam, an empty feeder, an I/O error.
    SetProgramVariable("SANE_CONFIG_DIR", VELOMARK_SANE_TEST_CONFIG);
    SetProgramVariable("VELOMARK_DEFAULT_SOURCE", "test:0");
    SetProgramVariable("VELOMARK_UNATTENDED", "1");
    struct Failure {
        const char* status;
        const char* reason;  // what the source tells on stderr
    };
    int started = 0;
    for (const Failure failure : {Failure{"SANE_STATUS_JAMMED", "failed: Document feeder jammed"},
                                  Failure{"SANE_STATUS_NO_DOCS", "the document feeder is empty"},
                                  Failure{"SANE_STATUS_IO_ERROR", "failed: Error during device I/O"}}) {
        const char* status = failure.status;
        SCOPED_TRACE(status);
        SetProgramVariable("VELOMARK_SANE_OPTIONS",
                           std::string("mode=Gray,source=Automatic Document Feeder,"
                                       "read-return-value=") + status);
        ASSERT_NO_FATAL_FAILURE(StartVelomark(false));
        ASSERT_TRUE(Velomark().WaitForEvents("ready /", ++started, kStartTimeoutMs))
            << Velomark().EventText() << Velomark().ErrorOutput();
        velomark_client* client = nullptr;
        ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
        ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
        EXPECT_EQ(velomark_wait_status_change(client, VELOMARK_STATUS_ACQUIRE, kImageTimeoutMs),
                  VELOMARK_OK);
        EXPECT_EQ(velomark_wait_image(client, 3000), VELOMARK_E_TIMEOUT);
        velomark_close(client);
        EXPECT_EQ(Velomark().CountEvents("image "), 0) << Velomark().EventText();
        EXPECT_EQ(Velomark().Send(1), -1);  // still answering
        EXPECT_NE(Velomark().ErrorOutput().find(std::string("test:0: ") + failure.reason),
                  std::string::npos) << Velomark().ErrorOutput();
        // The event log is the same file for every start: its exits add up.
        EXPECT_EQ(Velomark().ExitByMenu(kStartTimeoutMs), 0) << Velomark().ErrorOutput();
        EXPECT_EQ(Velomark().CountEvents("exit"), started) << Velomark().EventText();
    }
}

}  // namespace
}  // namespace velomark::e2e
