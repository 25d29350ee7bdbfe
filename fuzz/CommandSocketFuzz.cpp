// The command socket, as any process of the user can reach it: the input's bytes
// go to a running server over one connection (commands, the image-stream request,
// anything), and what comes back is read until the server ends the connection.
// Every 24-byte piece must also survive a decode and encode unchanged.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "bridge/CommandServer.h"
#include "bridge/CommandSocketWire.h"
#include "fuzz/FuzzInput.h"

namespace {

using namespace velomark;

// Runs the server's tasks at once on the server's thread: there is no UI loop here.
struct FuzzTarget : CommandTarget {
    std::atomic<bool> executes{true};
    std::atomic<bool> streams{true};
    void RunOnUiThread(std::function<void()> task) override { task(); }
    bool ExecuteCommand(uint16_t) override { return executes; }
    bool AcceptsStreams() override { return streams; }
};

FuzzTarget g_target;
CommandServer* g_server = nullptr;
std::string g_path;

int Connect() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, g_path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    return fd;
}

void CheckRoundTrip(const uint8_t* bytes, size_t size) {
    for (size_t at = 0; at + kCommandRequestSize <= size; at += kCommandRequestSize) {
        unsigned char again[kCommandRequestSize];
        CommandSocketWire::EncodeRequest(CommandSocketWire::DecodeRequest(bytes + at), again);
        if (std::memcmp(again, bytes + at, sizeof again) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = "/tmp/velomark-fuzz-command-" + std::to_string(getpid()) + ".sock";
    // Both live as long as the process.
    g_server = new CommandServer(g_target, *new StreamHub);
    if (!g_server->Start(g_path)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Take<uint8_t>();
    g_target.executes = flags & 1;
    g_target.streams = flags & 2;
    size_t imageBytes = 0;
    const uint8_t* image = input.Bytes(flags & 4 ? input.Take<uint8_t>() : 0, &imageBytes);
    size_t requestBytes = 0;
    const uint8_t* requests = input.Rest(&requestBytes);
    CheckRoundTrip(requests, requestBytes);

    int fd = Connect();
    // The whole input fits the socket's buffer: libFuzzer's inputs are small.
    if (requestBytes > 0 && send(fd, requests, requestBytes, MSG_NOSIGNAL) < 0) std::abort();
    shutdown(fd, SHUT_WR);
    // A stream stays open until its acquisition ends: end it when the server falls quiet.
    unsigned char info[42] = {};
    bool imageSent = false;
    for (int quiet = 0; quiet < 50;) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 20) == 0) {
            ++quiet;
            if (!imageSent && imageBytes > 0) g_server->Streams().TakeImage(image, imageBytes, info);
            imageSent = true;
            g_server->Streams().EndAcquisition();
            continue;
        }
        unsigned char reply[256];
        if (recv(fd, reply, sizeof reply, 0) <= 0) break;
    }
    close(fd);
    return 0;
}
