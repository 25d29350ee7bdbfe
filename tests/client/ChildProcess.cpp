#include "tests/client/ChildProcess.h"

#include "tests/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace velomark::testing {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

FakeVelomark::~FakeVelomark() { Stop(); }

bool FakeVelomark::Start(const std::vector<std::string>& options, std::string& error) {
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
        error = "no pipes";
        return false;
    }
    std::vector<std::string> argv{m_program};
    argv.insert(argv.end(), m_arguments.begin(), m_arguments.end());
    argv.insert(argv.end(), options.begin(), options.end());
    m_pid = SpawnWithStreams(argv, inPipe[0], outPipe[1], STDERR_FILENO);
    close(inPipe[0]);
    close(outPipe[1]);
    m_input = inPipe[1];
    m_output = outPipe[0];
    std::string line;
    if (!ReadLine(line, 10000) || line.rfind("ready ", 0) != 0) {
        error = m_program + " did not start (exit code " + std::to_string(Stop()) + ")";
        return false;
    }
    m_socketPath = line.substr(6);
    return true;
}

bool FakeVelomark::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = m_buffered.find('\n');
        if (end != std::string::npos) {
            line = m_buffered.substr(0, end);
            m_buffered.erase(0, end + 1);
            return true;
        }
        pollfd entry{m_output, POLLIN, 0};
        if (m_output < 0 || poll(&entry, 1, MillisecondsLeft(deadline)) <= 0) return false;
        char buffer[1024];
        ssize_t got = read(m_output, buffer, sizeof(buffer));
        if (got <= 0) return false;
        m_buffered.append(buffer, static_cast<size_t>(got));
    }
}

bool FakeVelomark::WaitForEvent(const std::string& prefix, int timeoutMs) {
    for (const std::string& event : m_events)
        if (event.rfind(prefix, 0) == 0) return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (ReadLine(line, MillisecondsLeft(deadline))) {
        m_events.push_back(line);
        if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool FakeVelomark::WaitForEvents(const std::string& prefix, int count, int timeoutMs) {
    auto matching = [&] {
        int n = 0;
        for (const std::string& event : m_events) n += event.rfind(prefix, 0) == 0;
        return n;
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (matching() < count) {
        if (!ReadLine(line, MillisecondsLeft(deadline))) return false;
        m_events.push_back(line);
    }
    return true;
}

int FakeVelomark::Stop() {
    if (m_pid < 0) return -1;
    close(m_input);
    m_input = -1;
    if (m_stopSignal != 0) kill(m_pid, m_stopSignal);
    int code = WaitForExit(m_pid, 10000);
    if (code == -1) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    // Keep what it said last, for a test that looks at its events afterwards.
    std::string line;
    while (ReadLine(line, 0)) m_events.push_back(line);
    close(m_output);
    m_output = -1;
    m_pid = -1;
    return code;
}

}  // namespace velomark::testing
