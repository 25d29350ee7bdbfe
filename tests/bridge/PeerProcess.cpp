#include "tests/bridge/PeerProcess.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

extern char** environ;

namespace velomark {

PeerProcess::PeerProcess(const std::vector<std::string>& arguments) {
    int in[2], out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_toChild = in[1];
    m_fromChild = out[0];
    signal(SIGPIPE, SIG_IGN);
}

PeerProcess::~PeerProcess() {
    if (m_toChild >= 0) close(m_toChild);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_fromChild >= 0) close(m_fromChild);
}

std::string PeerProcess::ReadLine(int timeoutMs) {
    for (;;) {
        const size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        pollfd fd{m_fromChild, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0) return "";
        char buffer[256];
        const ssize_t n = read(m_fromChild, buffer, sizeof buffer);
        if (n <= 0) return "";
        m_pending.append(buffer, static_cast<size_t>(n));
    }
}

void PeerProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    if (write(m_toChild, text.data(), text.size()) < 0) return;
}

int PeerProcess::Wait() {
    if (m_pid <= 0) return -1;
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace velomark
