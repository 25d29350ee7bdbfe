// The client library against a server that breaks the stream's format: each fault
// is a clear error, never a crash, and no descriptor stays open.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "bridge/StreamWire.h"
#include "client/velomark_client.h"
#include "tests/ProgramRun.h"
#include "tests/client/ClientTestFixture.h"
#include "tests/client/ScriptedServer.h"

namespace velomark::testing {
namespace {

int OpenDescriptors() {
    int count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder)) ++count;
        closedir(folder);
    }
    return count;
}

struct Fault {
    const char* name;
    std::function<void(int)> send;  // what the server sends after accepting
    bool holdOpen;                  // the server keeps the connection open after it
};

// Serves one stream request on the listener: accepts (passing over connections
// that only check Velomark is there), answers 0, then sends the fault.
void ServeOneStream(int listener, const Fault& fault) {
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        unsigned char request[24];
        if (recv(fd, request, sizeof(request), MSG_WAITALL) != 24) {
            close(fd);
            continue;
        }
        const unsigned char accepted[8] = {};
        EXPECT_EQ(send(fd, accepted, sizeof(accepted), MSG_NOSIGNAL), 8);
        fault.send(fd);
        if (fault.holdOpen) {
            char ignored;
            recv(fd, &ignored, 1, 0);  // until the client gives up and closes
        }
        close(fd);
        return;
    }
}

class StreamHostileTest : public ClientTestFixture {
protected:
    int Listen() { return ListenAt(SocketPath()); }
};

TEST_F(StreamHostileTest, EachBrokenEventIsAClearErrorAndLeaksNothing) {
    const std::vector<Fault> faults = {
        {"bad magic", [](int fd) { SendWith(fd, Header(0x12345678, 56), {ImageFile(true)}); },
         false},
        {"short header", [](int fd) { SendWith(fd, std::vector<unsigned char>(40), {}); }, true},
        {"missing descriptor", [](int fd) { SendWith(fd, Header(kStreamMagic, 56), {}); }, false},
        {"two descriptors",
         [](int fd) { SendWith(fd, Header(kStreamMagic, 56), {ImageFile(true), ImageFile(true)}); },
         false},
        {"unsealed memory file",
         [](int fd) { SendWith(fd, Header(kStreamMagic, 56), {ImageFile(false)}); }, false},
        {"size beyond the file",
         [](int fd) { SendWith(fd, Header(kStreamMagic, 1 << 20), {ImageFile(true)}); }, false},
        {"end in the middle of a header",
         [](int fd) {
             std::vector<unsigned char> half = Header(kStreamMagic, 56);
             half.resize(30);
             SendWith(fd, half, {ImageFile(true)});
         },
         false},
    };
    const int listener = Listen();
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    const int before = OpenDescriptors();
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        std::thread server([&] { ServeOneStream(listener, fault); });
        velomark_stream* stream = nullptr;
        ASSERT_EQ(velomark_stream_open(client, 0, 0, &stream), VELOMARK_OK);
        velomark_image* image = nullptr;
        EXPECT_EQ(velomark_stream_next(stream, &image, 500), VELOMARK_E_PROTOCOL)
            << velomark_last_error(client);
        EXPECT_EQ(image, nullptr);
        EXPECT_STRNE(velomark_last_error(client), "");
        // The stream stays ended.
        EXPECT_EQ(velomark_stream_next(stream, &image, 0), VELOMARK_E_PROTOCOL);
        velomark_stream_close(stream);
        server.join();
        EXPECT_EQ(OpenDescriptors(), before);
    }
    velomark_close(client);
    close(listener);
}

TEST_F(StreamHostileTest, TheCommandLineTellsNoPagesApartFromAFailure) {
    const int listener = Listen();
    StreamHeader end;
    end.kind = STREAM_END;
    std::vector<unsigned char> endBytes(kStreamHeaderSize);
    StreamWire::Encode(end, endBytes.data());
    const Fault noPages{"no pages", [&](int fd) { SendWith(fd, endBytes, {}); }, false};
    const Fault broken{"bad magic", [](int fd) { SendWith(fd, Header(0, 56), {}); }, false};
    for (const auto& [fault, exitCode] : {std::pair{noPages, 6}, std::pair{broken, 1}}) {
        SCOPED_TRACE(fault.name);
        std::thread server([&] { ServeOneStream(listener, fault); });
        ProgramOutput run = RunProgram(
            {VELOMARK_CLIENT_PATH, "acquire", "--stream", "--json", "-o", Folder() + "/out"},
            20000);
        server.join();
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_EQ(run.out.rfind(exitCode == 6 ? "{\"end\":true,\"pages\":0" : "{\"end\":false", 0),
                  0u)
            << run.out;
    }
    close(listener);
}

}  // namespace
}  // namespace velomark::testing
