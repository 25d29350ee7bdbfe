// The Python module's command line against the same stand-in Velomark: an
// acquisition saved byte for byte like the C client's, the command text, the
// texts, and its exit codes.
#include <fstream>
#include <iterator>

#include "tests/ProgramRun.h"
#include "tests/client/ChildProcess.h"
#include "tests/client/ClientTestFixture.h"
#include "tests/client/SyntheticImage.h"

namespace velomark::testing {
namespace {

ProgramOutput Python(std::vector<std::string> args) {
    args.insert(args.begin(), {VELOMARK_PYTHON, PYTHON_CLIENT_PATH});
    return RunProgram(args);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ClientPythonTest : public ClientTestFixture {
protected:
    void StartVelomark(const std::vector<std::string>& options) {
        std::string error;
        ASSERT_TRUE(m_velomark.Start(options, error)) << error;
    }
    void EndPrograms() override { EXPECT_LE(m_velomark.Stop(), 0) << "fake-velomark failed"; }
    FakeVelomark m_velomark;
};

TEST_F(ClientPythonTest, AcquireSavesTheSameFilesAsTheCClient) {
    StartVelomark({"--images", "2", "--bits", "8"});
    ProgramOutput python = Python({"acquire", "-n", "2", "-o", Folder() + "/py", "-t", "10"});
    ASSERT_EQ(python.exitCode, 0) << python.err;
    EXPECT_EQ(python.out, Folder() + "/py/image-001.bmp\n" + Folder() + "/py/image-002.bmp\n");
    ProgramOutput c =
        RunProgram({VELOMARK_CLIENT_PATH, "acquire", "-n", "2", "-o", Folder() + "/c", "-t", "10"});
    ASSERT_EQ(c.exitCode, 0) << c.err;
    for (int image = 0; image < 2; ++image) {
        const std::string name = "/image-00" + std::to_string(image + 1) + ".bmp";
        const std::string fromPython = ReadFile(Folder() + "/py" + name);
        std::vector<unsigned char> dib = SyntheticImage::PackedResult(image, 8);
        ASSERT_EQ(fromPython.size(), 14 + dib.size()) << name;
        EXPECT_TRUE(SyntheticImage::SamePixels(
            reinterpret_cast<const unsigned char*>(fromPython.data()) + 54, fromPython.size() - 54,
            image, 8))
            << name;
        // The C client's second acquisition got images 2 and 3, so only the
        // file layout, not the pixels, is compared with it.
        const std::string fromC = ReadFile(Folder() + "/c" + name);
        EXPECT_EQ(fromPython.substr(0, 54), fromC.substr(0, 54)) << name;
    }
}

TEST_F(ClientPythonTest, CommandTextAndStatusActions) {
    StartVelomark({"--images", "0"});
    ProgramOutput reply = Python({"command", "OnFileAcquire"});
    EXPECT_EQ(reply.exitCode, 0) << reply.err;
    EXPECT_EQ(reply.out, "Wait For OnFileAcquire\n");
    EXPECT_TRUE(m_velomark.WaitForEvent("acquire"));

    EXPECT_EQ(Python({"set-text", "from python"}).exitCode, 0);
    EXPECT_EQ(Python({"get-text"}).out, "from python\n");
    EXPECT_EQ(Python({"status"}).out, "0 (idle)\n");
    ProgramOutput select = Python({"select", "-t", "5"});
    EXPECT_EQ(select.exitCode, 0) << select.err;
    EXPECT_TRUE(m_velomark.WaitForEvent("select"));
}

TEST_F(ClientPythonTest, ExitCodesForNotRunningTimeoutAndBadArguments) {
    ProgramOutput absent = Python({"acquire", "-o", Folder()});
    EXPECT_EQ(absent.exitCode, 3) << absent.err;
    EXPECT_NE(absent.err.find("not running"), std::string::npos) << absent.err;
    EXPECT_EQ(Python({"command", "OnFileAcquire"}).exitCode, 3);

    EXPECT_EQ(Python({"acquire", "-n", "0"}).exitCode, 2);
    EXPECT_EQ(Python({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Python({"command", std::string(300, 'x')}).exitCode, 2);

    StartVelomark({"--images", "0"});
    ProgramOutput late = Python({"acquire", "-o", Folder(), "-t", "0.3"});
    EXPECT_EQ(late.exitCode, 4) << late.err;
    EXPECT_NE(late.err.find("image 1 of 1"), std::string::npos) << late.err;
}

// The stream's own tests are in Python, with the fake server they need; they run
// on this test's channel, so the fixture sees that both sections went away.
TEST_F(ClientPythonTest, StreamAgainstAHostileServerAndTheProtocolExample) {
    ProgramOutput run = RunProgram({VELOMARK_PYTHON, PYTHON_STREAM_TEST_PATH}, 60000);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
}

}  // namespace
}  // namespace velomark::testing
