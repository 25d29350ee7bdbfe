// velomark-client against the stand-in Velomark: images saved as BMP files that
// ImageMagick reads with the published pixels, the command text round trip, the
// text and status actions, and the exit codes for every way it can fail.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "tests/ProgramRun.h"
#include "tests/client/ChildProcess.h"
#include "tests/client/ClientTestFixture.h"
#include "tests/client/SyntheticImage.h"

namespace velomark::testing {
namespace {

ProgramOutput Client(std::vector<std::string> args, int timeoutMs = 20000) {
    args.insert(args.begin(), VELOMARK_CLIENT_PATH);
    return RunProgram(args, timeoutMs);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t Get32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return value;
}

// Reads the file through ImageMagick as top-down RGB and compares every pixel.
void ExpectImageMagickSees(const std::string& path, int image, int bits) {
    ProgramOutput raw = RunProgram({VELOMARK_CONVERT, path, "-depth", "8", "rgb:-"});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    ASSERT_EQ(raw.out.size(), size_t{3} * SyntheticImage::kWidth * SyntheticImage::kHeight);
    int wrong = 0;
    for (int y = 0; y < SyntheticImage::kHeight; ++y) {
        for (int x = 0; x < SyntheticImage::kWidth; ++x) {
            const char* p = &raw.out[3 * (static_cast<size_t>(y) * SyntheticImage::kWidth + x)];
            Rgb seen{static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]),
                     static_cast<uint8_t>(p[2])};
            if (!(seen == SyntheticImage::Expected(image, bits, x, y)) && ++wrong <= 3)
                ADD_FAILURE() << path << " pixel " << x << "," << y;
        }
    }
    EXPECT_EQ(wrong, 0);
}

class ClientCliTest : public ClientTestFixture {
protected:
    void StartVelomark(const std::vector<std::string>& options = {}) {
        std::string error;
        ASSERT_TRUE(m_velomark.Start(options, error)) << error;
    }
    void EndPrograms() override { EXPECT_LE(m_velomark.Stop(), 0) << "fake-velomark failed"; }
    FakeVelomark m_velomark;
};

TEST_F(ClientCliTest, AcquireSavesEachImageAsBmpWithThePublishedPixels) {
    StartVelomark({"--images", "3", "--bits", "8"});
    const std::string out = Folder() + "/out";
    ProgramOutput run = Client({"acquire", "-n", "3", "-o", out, "-t", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              out + "/image-001.bmp\n" + out + "/image-002.bmp\n" + out + "/image-003.bmp\n");
    for (int image = 0; image < 3; ++image) {
        char name[32];
        std::snprintf(name, sizeof(name), "/image-%03d.bmp", image + 1);
        const std::string path = out + name;
        const std::string file = ReadFile(path);
        std::vector<unsigned char> dib = SyntheticImage::PackedResult(image, 8);
        ASSERT_EQ(file.size(), 14 + dib.size());
        EXPECT_EQ(file.substr(0, 2), "BM");
        EXPECT_EQ(Get32(file, 2), file.size());
        EXPECT_EQ(Get32(file, 10), 54u);
        // The rows as the source's colour table expands them, byte for byte.
        EXPECT_TRUE(SyntheticImage::SamePixels(
            reinterpret_cast<const unsigned char*>(file.data()) + 54, file.size() - 54, image, 8))
            << path;
        ExpectImageMagickSees(path, image, 8);
    }
    EXPECT_TRUE(m_velomark.WaitForEvent("published 2"));
}

TEST_F(ClientCliTest, AcquireOfTwentyFourBitImagesKeepsTheirColours) {
    StartVelomark({"--images", "1", "--bits", "24"});
    ProgramOutput run = Client({"acquire", "-o", Folder(), "-t", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Folder() + "/image-001.bmp\n");
    ExpectImageMagickSees(Folder() + "/image-001.bmp", 0, 24);
}

TEST_F(ClientCliTest, TheCExampleOfTheProtocolNotesAcquiresAnImage) {
    const std::string path = Folder() + "/example.bmp";
    EXPECT_EQ(RunProgram({ACQUIRE_EXAMPLE_PATH, path}).exitCode, 3) << "not running yet";
    StartVelomark({"--images", "1", "--bits", "8"});
    ProgramOutput run = RunProgram({ACQUIRE_EXAMPLE_PATH, path});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectImageMagickSees(path, 0, 8);
}

TEST_F(ClientCliTest, TheExampleWithoutTheLibrarySpeaksTheSameProtocol) {
    EXPECT_EQ(RunProgram({RAW_CLIENT_EXAMPLE_PATH}).exitCode, 3) << "not running yet";
    StartVelomark({"--images", "1"});
    ProgramOutput run = RunProgram({RAW_CLIENT_EXAMPLE_PATH});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Wait For OnFileAcquire\nimage 37 x 21\n");
    ASSERT_TRUE(m_velomark.WaitForEvent("published 0"));
    EXPECT_EQ(Client({"status"}).out, "0 (idle)\n") << "the example acknowledged the image";
}

TEST_F(ClientCliTest, CommandTextsGetVelomarksRepliesAndSetItWorking) {
    StartVelomark({"--images", "0"});
    ProgramOutput acquire = Client({"command", "OnFileAcquire"});
    EXPECT_EQ(acquire.exitCode, 0) << acquire.err;
    EXPECT_EQ(acquire.out, "Wait For OnFileAcquire\n");
    EXPECT_TRUE(m_velomark.WaitForEvent("acquire"));

    ProgramOutput select = Client({"command", "OnSelectDataSource"});
    EXPECT_EQ(select.exitCode, 0) << select.err;
    EXPECT_EQ(select.out, "Wait For OnFileSelectsource\n");
    EXPECT_TRUE(m_velomark.WaitForEvent("select"));

    // Any other text is left as it is and nothing happens.
    ProgramOutput other = Client({"command", "OnFileAcquireNow"});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_EQ(other.out, "OnFileAcquireNow\n");
    m_velomark.Stop();
    int acquires = 0;
    for (const std::string& event : m_velomark.Events()) acquires += event == "acquire";
    EXPECT_EQ(acquires, 1);
}

TEST_F(ClientCliTest, SelectWaitsForVelomarkToTakeTheRequest) {
    StartVelomark();
    ProgramOutput run = Client({"select", "-t", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(m_velomark.WaitForEvent("select"));
    ProgramOutput status = Client({"status"});
    EXPECT_EQ(status.out, "0 (idle)\n");
}

TEST_F(ClientCliTest, TextAndStatusActionsWorkOnTheSharedSections) {
    StartVelomark({"--no-poll"});  // keeps the sections alive and leaves requests alone
    EXPECT_EQ(Client({"set-text", "hello channel"}).exitCode, 0);
    ProgramOutput text = Client({"get-text"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out, "hello channel\n");
    EXPECT_EQ(Client({"set-text", "--", "-dash"}).exitCode, 0);
    EXPECT_EQ(Client({"get-text"}).out, "-dash\n");

    EXPECT_EQ(Client({"status"}).out, "0 (idle)\n");
    ProgramOutput select = Client({"select", "-t", "0.2"});
    EXPECT_EQ(select.exitCode, 4) << "nobody takes requests up, so select times out";
    EXPECT_NE(select.err.find("timed out"), std::string::npos) << select.err;
    EXPECT_EQ(Client({"status"}).out, "1 (select source requested)\n");
}

TEST_F(ClientCliTest, WithoutVelomarkEveryActionThatNeedsItExitsThree) {
    for (auto args : std::vector<std::vector<std::string>>{
             {"acquire", "-o", Folder()}, {"select"}, {"command", "OnFileAcquire"}}) {
        ProgramOutput run = Client(args);
        EXPECT_EQ(run.exitCode, 3) << args[0];
        EXPECT_NE(run.err.find("not running"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // A socket file that nobody serves any more is no Velomark either.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, SocketPath().c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
    ProgramOutput stale = Client({"command", "OnFileAcquire"});
    EXPECT_EQ(stale.exitCode, 3) << stale.err;
}

TEST_F(ClientCliTest, AcquireTimesOutWhenNoImageComes) {
    StartVelomark({"--images", "1"});
    ProgramOutput run = Client({"acquire", "-n", "2", "-o", Folder(), "-t", "0.5"});
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_EQ(run.out, Folder() + "/image-001.bmp\n") << "the one image that came is kept";
    EXPECT_NE(run.err.find("image 2 of 2"), std::string::npos) << run.err;
}

TEST_F(ClientCliTest, RefusedCommandExitsFive) {
    StartVelomark({"--refuse-text-command"});
    ProgramOutput run = Client({"command", "OnFileAcquire"});
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
}

TEST_F(ClientCliTest, BadArgumentsExitTwoWithAMessage) {
    for (auto args : std::vector<std::vector<std::string>>{
             {},
             {"scan"},
             {"acquire", "-n", "0"},
             {"acquire", "-n", "3x"},
             {"acquire", "-n"},
             {"acquire", "-t", "-1"},
             {"acquire", "-t", "soon"},
             {"acquire", "-x"},
             {"acquire", "-o", ""},
             {"command"},
             {"command", std::string(300, 'x')},
             {"status", "now"},
             {"set-text", "a", "b"},
             {"get-text", "-n", "2"},
             {"acquire", "--stream", "--mode", "colour"},
             {"acquire", "--stream", "--area", "0,0,210"},
             {"devices", "-n", "2"},
         }) {
        ProgramOutput run = Client(args);
        std::string shown =
            args.empty() ? "(none)" : args[0] + (args.size() > 1 ? " " + args[1] : "");
        EXPECT_EQ(run.exitCode, 2) << shown;
        EXPECT_FALSE(run.err.empty()) << shown;
    }
    ProgramOutput help = Client({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
}

}  // namespace
}  // namespace velomark::testing
