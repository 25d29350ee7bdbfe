// The client library's image stream against a hostile server: a server thread
// takes the stream request, then sends the input as the reply and a run of events,
// each piece with the descriptors the input asks for (memory files of any content,
// sealed or not, or plain pipes). The client reads images until the stream ends.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge/CommandSocketWire.h"
#include "bridge/StreamWire.h"
#include "client/ClientHandle.h"
#include "client/velomark_client.h"
#include "fuzz/FuzzInput.h"

namespace {

int g_listener = -1;
std::string g_path;

int MemoryFile(FuzzInput& input, uint8_t how) {
    if ((how & 3) == 3) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
        close(ends[1]);
        return ends[0];
    }
    int fd = memfd_create("velomark-fuzz-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) std::abort();
    size_t n = 0;
    const uint8_t* bytes = input.Bytes(input.Take<uint16_t>(), &n);
    if (n > 0 && write(fd, bytes, n) != static_cast<ssize_t>(n)) std::abort();
    if (how & 4) ftruncate(fd, input.Take<uint16_t>());
    if (how & 8)
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return fd;
}

// Sends pieces of the input, each with 0 to 3 descriptors, then closes.
void Serve(FuzzInput input) {
    int fd = accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) std::abort();
    unsigned char request[velomark::kCommandRequestSize];
    if (velomark::CommandSocketWire::ReadExact(fd, request, sizeof request, 5000) ==
        velomark::IoResult::Done) {
        while (input.Left() > 0) {
            const uint8_t how = input.Take<uint8_t>();
            std::vector<int> fds;
            for (int i = 0; i < (how >> 4) % 4; ++i) fds.push_back(MemoryFile(input, how));
            size_t n = 0;
            const uint8_t* bytes = input.Bytes(input.Take<uint8_t>(), &n);
            // Descriptors need at least one byte to travel with.
            const bool sent = (n > 0 || fds.empty()) &&
                              velomark::StreamWire::Send(fd, bytes, n, fds.data(), fds.size(),
                                                         MSG_NOSIGNAL) >= 0;
            for (int f : fds) close(f);
            if (!sent && n > 0) break;
        }
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = "/tmp/velomark-fuzz-stream-" + std::to_string(getpid()) + ".sock";
    unlink(g_path.c_str());
    g_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, g_path.c_str(), sizeof address.sun_path - 1);
    if (g_listener < 0 || bind(g_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        listen(g_listener, 4))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t wanted = input.Take<uint8_t>() % 4;
    velomark_client client;
    client.socketPath = g_path;
    std::thread server(Serve, input);
    velomark_stream* stream = nullptr;
    if (velomark_stream_open(&client, VELOMARK_STREAM_START, wanted, &stream) == VELOMARK_OK) {
        velomark_image* image = nullptr;
        volatile unsigned sum = 0;
        while (velomark_stream_next(stream, &image, 2000) == VELOMARK_OK) {
            for (size_t i = 0; i < image->size; i += 64) sum = sum + image->dib[i];
            velomark_image_release(image);
        }
        velomark_stream_close(stream);
    }
    server.join();
    return 0;
}
