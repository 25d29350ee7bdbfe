// A child process started from a test, with its standard input and output as
// pipes, to play the client's side of the channel.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velomark {

class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& arguments);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // One line of the child's output without its newline; empty at its end or after
    // the timeout.
    std::string ReadLine(int timeoutMs = 20000);
    void WriteLine(const std::string& line);
    // Waits for the child to end; its exit status, or -1 when it did not exit normally.
    int Wait();

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::string m_pending;
};

}  // namespace velomark
