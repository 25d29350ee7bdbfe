#include "tests/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace velomark::testing {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::vector<char*> PointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Forks and execs with the given standard streams; a null environment keeps the test's.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>* environment,
            int in, int out, int err) {
    std::vector<char*> args = PointersTo(argv);
    std::vector<char*> env = environment ? PointersTo(*environment) : std::vector<char*>{};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        // A new process group, so that ending it never reaches the test program.
        setpgid(0, 0);
        if (environment) environ = env.data();
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

int WaitForExit(pid_t pid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return -1;
        if (Clock::now() >= deadline) return -1;
        usleep(2000);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

ProgramOutput RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
    ProgramOutput result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = Spawn(argv, nullptr, devNull, outPipe[1], errPipe[1]);
    close(devNull);
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd entries[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && MillisecondsLeft(deadline) > 0) {
        if (poll(entries, 2, MillisecondsLeft(deadline)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (entries[i].fd < 0 || entries[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = read(entries[i].fd, buffer, sizeof buffer);
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
    if (pid < 0) return result;
    result.exitCode = WaitForExit(pid, MillisecondsLeft(deadline));
    if (result.exitCode == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return result;
}

pid_t SpawnProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, const std::string& outPath,
                   const std::string& errPath) {
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_t pid = -1;
    if (devNull >= 0 && out >= 0 && err >= 0) pid = Spawn(argv, &environment, devNull, out, err);
    for (int fd : {devNull, out, err})
        if (fd >= 0) close(fd);
    return pid;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    m_pid = Spawn(argv, nullptr, in[0], out[1], STDERR_FILENO);
    close(in[0]);
    close(out[1]);
    m_input = in[1];
    m_output = out[0];
    // A child that ends early must not end the test with it.
    signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
    CloseInput();
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_output >= 0) close(m_output);
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = m_buffered.find('\n');
        if (end != std::string::npos) {
            line = m_buffered.substr(0, end);
            m_buffered.erase(0, end + 1);
            return true;
        }
        pollfd entry{m_output, POLLIN, 0};
        if (m_output < 0 || poll(&entry, 1, MillisecondsLeft(deadline)) <= 0) return false;
        char buffer[1024];
        const ssize_t got = read(m_output, buffer, sizeof buffer);
        if (got <= 0) return false;
        m_buffered.append(buffer, static_cast<size_t>(got));
    }
}

std::string ChildProcess::ReadLine(int timeoutMs) {
    std::string line;
    return ReadLine(line, timeoutMs) ? line : std::string();
}

void ChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    if (m_input >= 0 && write(m_input, text.data(), text.size()) < 0) return;
}

void ChildProcess::CloseInput() {
    if (m_input >= 0) close(m_input);
    m_input = -1;
}

void ChildProcess::Signal(int signal) {
    if (m_pid > 0) kill(m_pid, signal);
}

int ChildProcess::Wait(int timeoutMs) {
    if (m_pid <= 0) return -1;
    const int code = WaitForExit(m_pid, timeoutMs);
    if (code == -1) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    return code;
}

}  // namespace velomark::testing
