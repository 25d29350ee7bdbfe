// A network scanner: saned serves SANE's test backend on 127.0.0.1, SANE's net backend
// reaches it, and the device it offers is a source like any other. The net backend
// knows only saned's standard port (sane-port, 6566), so the program runs in a network
// namespace of its own, where that port on 127.0.0.1 is free and no one else's.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sources/sane/SaneSourceNames.h"
#include "tests/sources/sane/SaneScanimage.h"
#include "tests/sources/sane/SaneTwainFixture.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSanePort = 6566;
constexpr const char* kSaned = "/usr/sbin/saned";
constexpr const char* kNetDevice = "net:127.0.0.1:test:0";

std::string g_namespaceProblem;  // why the program has no network of its own

// A network namespace of this process's own, with its loopback up.
std::string EnterOwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("cannot make a network namespace: ") + std::strerror(errno);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0) close(fd);
    return up ? "" : "cannot bring the loopback interface up";
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

class SaneNetTest : public SaneTwainTest {
protected:
    // One saned for the suite; libsane keeps the first configuration folder it reads,
    // so the client's folder is one for the whole program too.
    static void SetUpTestSuite() {
        if (!g_namespaceProblem.empty() || access(kSaned, X_OK) != 0) return;
        s_folder = fs::temp_directory_path() / ("velomark-saned-" + std::to_string(getpid()));
        fs::create_directories(s_folder / "server");
        fs::create_directories(s_folder / "client");
        fs::copy_file(fs::path(SaneTestConfigDir()) / "test.conf",
                      s_folder / "server" / "test.conf");
        std::ofstream(s_folder / "server" / "dll.conf") << "test\n";
        std::ofstream(s_folder / "server" / "saned.conf") << "127.0.0.1\n";
        std::ofstream(s_folder / "client" / "dll.conf") << "net\n";
        std::ofstream(s_folder / "client" / "net.conf") << "connect_timeout = 5\n127.0.0.1\n";

        s_saned = fork();
        if (s_saned == 0) {
            setpgid(0, 0);
            setenv("SANE_CONFIG_DIR", (s_folder / "server").c_str(), 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execl(kSaned, kSaned, "-l", "-e", "-b", "127.0.0.1", "-p",
                  std::to_string(kSanePort).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Accepts(kSanePort) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    static void TearDownTestSuite() {
        if (s_saned > 0) {
            kill(-s_saned, SIGTERM);
            waitpid(s_saned, nullptr, 0);
        }
        s_saned = -1;
        if (!s_folder.empty()) fs::remove_all(s_folder);
    }

    void SetUp() override {
        if (!g_namespaceProblem.empty()) GTEST_SKIP() << g_namespaceProblem;
        if (access(kSaned, X_OK) != 0) GTEST_SKIP() << "saned (sane-utils) is not installed";
        SaneTwainTest::SetUp();
        ASSERT_TRUE(Accepts(kSanePort)) << "saned did not start";
        setenv("SANE_CONFIG_DIR", (s_folder / "client").c_str(), 1);
        setenv("VELOMARK_DEFAULT_SOURCE", kNetDevice, 1);
    }

    static fs::path s_folder;
    static pid_t s_saned;
};

fs::path SaneNetTest::s_folder;
pid_t SaneNetTest::s_saned = -1;

TEST_F(SaneNetTest, TheNetworkDeviceIsASourceWhosePixelsAreScanimages) {
    SaneSettings options;
    std::string error;
    ASSERT_TRUE(SaneSettings::Parse(
        "tl-x=0,tl-y=0,br-x=30,br-y=20,resolution=75,mode=Color,test-picture=Color pattern",
        &options, &error));
    DecodedImage expected;
    ASSERT_TRUE(SaneScanimage::Scan(kNetDevice, options, &expected, &error)) << error;

    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, options)) << "the source did not ask to be closed";
    const std::string name =
        SaneSourceNames::BaseName({kNetDevice, "Noname", "frontend-tester", ""});
    EXPECT_EQ(twain.SourceName(), name);
    EXPECT_EQ(name, "frontend-tester (...0.0.1:test:0)");
    ASSERT_EQ(twain.images.size(), 1u);
    EXPECT_EQ(FirstDifference(expected, Decoded(twain.images[0])), "");
    EXPECT_EQ(twain.images[0].info.PixelType, TWPT_RGB);
}

TEST_F(SaneNetTest, TheFeederWorksAcrossTheNetworkToo) {
    SaneSettings options;
    std::string error;
    ASSERT_TRUE(SaneSettings::Parse(
        "tl-x=0,tl-y=0,br-x=20,br-y=20,resolution=50,source=Automatic Document Feeder", &options,
        &error));
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, options, 4));
    EXPECT_EQ(twain.images.size(), 4u);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_namespaceProblem = EnterOwnNetwork();
    return RUN_ALL_TESTS();
}
