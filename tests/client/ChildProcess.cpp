#include "tests/client/ChildProcess.h"

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

// Forks and execs; the child's standard streams are the given descriptors.
pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int WaitExit(pid_t pid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(1000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProgramResult ChildProcess::Run(const std::vector<std::string>& argv, int timeoutMs) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return {};
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t pid = Spawn(argv, devNull, outPipe[1], errPipe[1]);
    close(devNull);
    close(outPipe[1]);
    close(errPipe[1]);
    ProgramResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd entries[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && MillisecondsLeft(deadline) > 0) {
        if (poll(entries, 2, MillisecondsLeft(deadline)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (entries[i].fd < 0 || entries[i].revents == 0) continue;
            char buffer[4096];
            ssize_t got = read(entries[i].fd, buffer, sizeof(buffer));
            if (got > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
            } else {
                close(entries[i].fd);
                entries[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& entry : entries)
        if (entry.fd >= 0) close(entry.fd);
    result.exitCode = WaitExit(pid, MillisecondsLeft(deadline));
    return result;
}

FakeVelomark::~FakeVelomark() { Stop(); }

bool FakeVelomark::Start(const std::vector<std::string>& options, std::string& error) {
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
        error = "no pipes";
        return false;
    }
    std::vector<std::string> argv{m_program};
    argv.insert(argv.end(), options.begin(), options.end());
    m_pid = Spawn(argv, inPipe[0], outPipe[1], STDERR_FILENO);
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
    int code = WaitExit(m_pid, 10000);
    // Keep what it said last, for a test that looks at its events afterwards.
    std::string line;
    while (ReadLine(line, 0)) m_events.push_back(line);
    close(m_output);
    m_output = -1;
    m_pid = -1;
    return code;
}

}  // namespace velomark::testing
