// One send-mode WM_COMMAND over the command socket to a server whose command does
// nothing, beside a plain 24-byte request / 8-byte reply over a socketpair with an
// echo thread (the same exchange without the server's dispatch), and a memcpy of
// the 24 request bytes. Registered into the bridge benchmark program.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "bridge/CommandServer.h"
#include "bridge/CommandSocketClient.h"
#include "bridge/CommandSocketWire.h"

namespace {

// Runs each task on the server's own thread at once: only the socket is measured.
class InlineTarget : public velomark::CommandTarget {
public:
    void RunOnUiThread(std::function<void()> task) override { task(); }
    bool ExecuteCommand(uint16_t) override { return true; }
};

void BM_CommandSocketSendRoundTrip(benchmark::State& state) {
    char folderTemplate[] = "/tmp/velomark-bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    const std::string path = folder + "/velomark-bench.sock";
    InlineTarget target;
    velomark::StreamHub streams;
    velomark::CommandServer server(target, streams);
    if (!server.Start(path)) {
        state.SkipWithError(server.ErrorText().c_str());
        return;
    }
    velomark::CommandSocketClient client;
    client.Connect(path, 1000);
    velomark::CommandRequest request;
    request.wParam = 32783;
    for (auto _ : state) {
        int64_t reply = -1;
        if (client.Call(request, 5000, reply) != velomark::CommandCallResult::Replied || reply) {
            state.SkipWithError("the request failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    client.Close();
    server.Stop();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_CommandSocketSendRoundTrip)->UseRealTime();

void BM_SocketpairRoundTrip24To8Bytes(benchmark::State& state) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        state.SkipWithError("no socketpair");
        return;
    }
    std::thread echo([fd = ends[1]] {
        unsigned char request[velomark::kCommandRequestSize];
        unsigned char reply[velomark::kCommandReplySize] = {};
        while (velomark::CommandSocketWire::ReadExact(fd, request, sizeof(request), -1) ==
               velomark::IoResult::Done)
            velomark::CommandSocketWire::WriteAll(fd, reply, sizeof(reply), -1);
    });
    unsigned char request[velomark::kCommandRequestSize] = {0x11, 0x01};
    unsigned char reply[velomark::kCommandReplySize];
    for (auto _ : state) {
        velomark::CommandSocketWire::WriteAll(ends[0], request, sizeof(request), -1);
        velomark::CommandSocketWire::ReadExact(ends[0], reply, sizeof(reply), -1);
        benchmark::DoNotOptimize(reply);
    }
    shutdown(ends[0], SHUT_RDWR);
    echo.join();
    close(ends[0]);
    close(ends[1]);
}
BENCHMARK(BM_SocketpairRoundTrip24To8Bytes)->UseRealTime();

void BM_Memcpy24Bytes(benchmark::State& state) {
    unsigned char source[velomark::kCommandRequestSize] = {0x11, 0x01};
    unsigned char target[velomark::kCommandRequestSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(source);
        std::memcpy(target, source, sizeof(target));
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(target);
}
BENCHMARK(BM_Memcpy24Bytes);

}  // namespace
