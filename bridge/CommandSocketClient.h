// One connection to the main frame's command socket, from a client or a test:
// connect, then any number of requests, each answered by the 8-byte reply.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/CommandSocketWire.h"

namespace velomark {

enum class CommandCallResult {
    Replied,     // `reply` holds the server's answer (0 dispatched, -1 refused)
    NotRunning,  // nobody serves the path (no file, or nobody accepting)
    TimedOut,
    Disconnected,  // the server closed the connection before replying
    Failed,        // any other system error; ErrorText tells
};

class CommandSocketClient {
public:
    CommandSocketClient() = default;
    ~CommandSocketClient();
    CommandSocketClient(const CommandSocketClient&) = delete;
    CommandSocketClient& operator=(const CommandSocketClient&) = delete;

    // Connects to the socket at `path`, closing an earlier connection first.
    CommandCallResult Connect(const std::string& path, int timeoutMs);
    void Close();
    // Hands the connection over to the caller, who closes it.
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    bool IsConnected() const { return m_fd >= 0; }

    // Sends one request and waits up to timeoutMs (< 0: without limit) for its
    // reply. After anything but Replied the connection is closed.
    CommandCallResult Call(const CommandRequest& request, int timeoutMs, int64_t& reply);
    // Writes raw bytes, for tests that send what no well-behaved client would.
    CommandCallResult SendRaw(const void* bytes, size_t size, int timeoutMs);
    // Reads the next reply (after SendRaw).
    CommandCallResult ReadReply(int timeoutMs, int64_t& reply);

    const std::string& ErrorText() const { return m_error; }

private:
    CommandCallResult Fail(IoResult io, const char* doing);

    int m_fd = -1;
    std::string m_error;
};

}  // namespace velomark
