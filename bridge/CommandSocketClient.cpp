#include "bridge/CommandSocketClient.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "bridge/CommandSocketPath.h"

namespace velomark {

CommandSocketClient::~CommandSocketClient() { Close(); }

void CommandSocketClient::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

CommandCallResult CommandSocketClient::Connect(const std::string& path, int timeoutMs) {
    Close();
    m_error.clear();
    if (path.size() > CommandSocketPath::MaxLength()) {
        m_error = "socket path too long: " + path;
        return CommandCallResult::Failed;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_error = std::string("cannot create a socket: ") + std::strerror(errno);
        return CommandCallResult::Failed;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A full backlog answers EAGAIN without queueing the attempt: try again until
    // the server has taken the earlier ones or the time is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int rc;
    while ((rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address))) != 0 &&
           (errno == EAGAIN || errno == EINTR)) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            m_error = "no answer from " + path + " in time";
            return CommandCallResult::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (rc != 0) {
        int saved = errno;
        close(fd);
        m_error = "cannot connect to " + path + ": " + std::strerror(saved);
        bool nobody = saved == ENOENT || saved == ECONNREFUSED || saved == ENOTDIR;
        return nobody ? CommandCallResult::NotRunning : CommandCallResult::Failed;
    }
    m_fd = fd;
    return CommandCallResult::Replied;
}

CommandCallResult CommandSocketClient::Fail(IoResult io, const char* doing) {
    int saved = errno;
    Close();
    switch (io) {
        case IoResult::TimedOut:
            m_error = std::string("timed out ") + doing;
            return CommandCallResult::TimedOut;
        case IoResult::Closed:
            m_error = std::string("the server closed the connection ") + doing;
            return CommandCallResult::Disconnected;
        default:
            m_error = std::string("socket error ") + doing + ": " + std::strerror(saved);
            return CommandCallResult::Failed;
    }
}

CommandCallResult CommandSocketClient::SendRaw(const void* bytes, size_t size, int timeoutMs) {
    if (m_fd < 0) {
        m_error = "not connected";
        return CommandCallResult::Failed;
    }
    IoResult io = CommandSocketWire::WriteAll(m_fd, bytes, size, timeoutMs);
    return io == IoResult::Done ? CommandCallResult::Replied : Fail(io, "sending the request");
}

CommandCallResult CommandSocketClient::ReadReply(int timeoutMs, int64_t& reply) {
    if (m_fd < 0) {
        m_error = "not connected";
        return CommandCallResult::Failed;
    }
    unsigned char bytes[kCommandReplySize];
    IoResult io = CommandSocketWire::ReadExact(m_fd, bytes, sizeof(bytes), timeoutMs);
    if (io != IoResult::Done) return Fail(io, "waiting for the reply");
    reply = CommandSocketWire::DecodeReply(bytes);
    return CommandCallResult::Replied;
}

CommandCallResult CommandSocketClient::Call(const CommandRequest& request, int timeoutMs,
                                            int64_t& reply) {
    unsigned char bytes[kCommandRequestSize];
    CommandSocketWire::EncodeRequest(request, bytes);
    CommandCallResult sent = SendRaw(bytes, sizeof(bytes), timeoutMs);
    if (sent != CommandCallResult::Replied) return sent;
    return ReadReply(timeoutMs, reply);
}

}  // namespace velomark
