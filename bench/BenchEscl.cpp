// One page through the network road beside the same page through the ticketed
// stream, alternating in one run of `velomark --headless --share=127.0.0.1:0` (the
// test chart, Letter at 100 dpi in colour, from the flatbed): the stream hands over
// a sealed memory file; eSCL takes a POST, a NextDocument and a PNG (or JPEG)
// encoding and an HTTP transfer. x_stream is the ratio. No display needed.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/BenchClock.h"
#include "bench/RunningVelomark.h"
#include "client/velomark_client.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// velomark --headless --share on a free port, its "eSCL:" line read from a pipe.
class SharingVelomark {
public:
    SharingVelomark() {
        m_folder = bench::PrepareRun("bench-escl", 100);
        if (m_folder.empty()) return;
        const std::string program = bench::ProgramPath().string();
        int out[2];
        if (pipe(out) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(program.c_str(), program.c_str(), "--headless", "--share=127.0.0.1:0",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        m_output = fdopen(out[0], "r");
        char line[512];
        while (m_output && std::fgets(line, sizeof line, m_output)) {
            const std::string text = line;
            if (text.rfind("eSCL: ", 0) != 0) continue;
            m_port = std::atoi(text.c_str() + text.rfind(':') + 1);
            break;
        }
        m_ready = m_port > 0 && velomark_open(&m_client) == VELOMARK_OK;
    }
    ~SharingVelomark() {
        if (m_client) velomark_close(m_client);
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_output) std::fclose(m_output);
        std::error_code ignored;
        if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
    }
    bool Ready() const { return m_ready; }
    int Port() const { return m_port; }
    velomark_client* Client() const { return m_client; }

private:
    fs::path m_folder;
    pid_t m_pid = -1;
    FILE* m_output = nullptr;
    int m_port = 0;
    velomark_client* m_client = nullptr;
    bool m_ready = false;
};

// One HTTP exchange on a connection of its own: the whole answer.
std::string Exchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
        char buffer[65536];
        ssize_t got = 0;
        while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, size_t(got));
    }
    close(fd);
    return answer;
}

// Seconds from the POST to the whole page; negative when none came.
double EsclPage(int port, const char* format, size_t* bytes) {
    const std::string settings =
        std::string("<scan:ScanSettings xmlns:scan=\"http://schemas.hp.com/imaging/escl/2011/05/03\" "
                    "xmlns:pwg=\"http://www.pwg.org/schemas/2010/12/sm\">"
                    "<pwg:InputSource>Platen</pwg:InputSource><scan:ColorMode>RGB24</scan:ColorMode>"
                    "<scan:XResolution>100</scan:XResolution><pwg:DocumentFormat>") +
        format + "</pwg:DocumentFormat></scan:ScanSettings>";
    const Clock::time_point start = Clock::now();
    const std::string created = Exchange(
        port, "POST /eSCL/ScanJobs HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
              "Content-Length: " + std::to_string(settings.size()) + "\r\n\r\n" + settings);
    const size_t at = created.find("Location: ");
    if (created.rfind("HTTP/1.1 201", 0) != 0 || at == std::string::npos) return -1;
    const std::string job = created.substr(at + 10, created.find("\r\n", at) - at - 10);
    const std::string page = Exchange(port, "GET " + job + "/NextDocument HTTP/1.1\r\nHost: "
                                            "127.0.0.1\r\nConnection: close\r\n\r\n");
    const double seconds = SecondsSince(start);
    Exchange(port, "DELETE " + job + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    if (page.rfind("HTTP/1.1 200", 0) != 0) return -1;
    *bytes = page.size() - page.find("\r\n\r\n") - 4;
    return seconds;
}

// Seconds from the ticketed stream's request to its page; negative when none came.
double StreamPage(velomark_client* client) {
    velomark_ticket ticket;
    velomark_ticket_init(&ticket);
    ticket.input = VELOMARK_INPUT_FLATBED;
    ticket.color = VELOMARK_COLOR_RGB;
    ticket.x_resolution = 100;
    ticket.pages = 1;
    const Clock::time_point start = Clock::now();
    velomark_stream* stream = nullptr;
    velomark_image* image = nullptr;
    const bool came = velomark_stream_open_ticket(client, &ticket, 1, &stream) == VELOMARK_OK &&
                      velomark_stream_next(stream, &image, 30000) == VELOMARK_OK;
    const double seconds = SecondsSince(start);
    if (came) velomark_image_release(image);
    velomark_stream_close(stream);
    return came ? seconds : -1;
}

void PageThroughEscl(benchmark::State& state, const char* format) {
    SharingVelomark velomark;
    if (!velomark.Ready()) {
        state.SkipWithError("velomark --headless --share did not start");
        return;
    }
    double streamSeconds = 0, esclSeconds = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        const double stream = StreamPage(velomark.Client());
        const double escl = EsclPage(velomark.Port(), format, &bytes);
        if (stream < 0 || escl < 0) {
            state.SkipWithError("a page did not come");
            break;
        }
        streamSeconds += stream;
        esclSeconds += escl;
    }
    state.counters["ms_stream"] = streamSeconds / double(state.iterations()) * 1e3;
    state.counters["ms_escl"] = esclSeconds / double(state.iterations()) * 1e3;
    state.counters["x_stream"] = esclSeconds / streamSeconds;
    state.counters["file_bytes"] = double(bytes);
}

void BM_EsclPngPage(benchmark::State& state) { PageThroughEscl(state, "image/png"); }
void BM_EsclJpegPage(benchmark::State& state) { PageThroughEscl(state, "image/jpeg"); }
BENCHMARK(BM_EsclPngPage)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EsclJpegPage)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
