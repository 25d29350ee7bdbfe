#include "bridge/CommandSocketWire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "bridge/LittleEndian.h"

namespace velomark {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline for poll: -1 without a limit, 0 when past.
int RemainingMs(bool limited, Clock::time_point deadline) {
    if (!limited) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until the descriptor is ready for `events`; Done, TimedOut or Failed.
IoResult WaitReady(int fd, short events, bool limited, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, RemainingMs(limited, deadline));
        if (ready > 0) return IoResult::Done;
        if (ready == 0) return IoResult::TimedOut;
        if (errno != EINTR) return IoResult::Failed;
    }
}

}  // namespace

void CommandSocketWire::EncodeRequest(const CommandRequest& request, unsigned char* out) {
    PutLittleEndian(out, request.message, 4);
    PutLittleEndian(out + 4, request.mode, 4);
    PutLittleEndian(out + 8, request.wParam, 8);
    PutLittleEndian(out + 16, request.lParam, 8);
}

CommandRequest CommandSocketWire::DecodeRequest(const unsigned char* in) {
    CommandRequest request;
    request.message = static_cast<uint32_t>(GetLittleEndian(in, 4));
    request.mode = static_cast<uint32_t>(GetLittleEndian(in + 4, 4));
    request.wParam = GetLittleEndian(in + 8, 8);
    request.lParam = GetLittleEndian(in + 16, 8);
    return request;
}

void CommandSocketWire::EncodeReply(int64_t reply, unsigned char* out) {
    PutLittleEndian(out, static_cast<uint64_t>(reply), 8);
}

int64_t CommandSocketWire::DecodeReply(const unsigned char* in) {
    return static_cast<int64_t>(GetLittleEndian(in, 8));
}

bool CommandSocketWire::IsMalformed(const CommandRequest& request) {
    return (request.mode != COMMAND_SEND && request.mode != COMMAND_POST) || request.lParam != 0;
}

IoResult CommandSocketWire::ReadExact(int fd, void* buffer, size_t size, int timeoutMs) {
    const bool limited = timeoutMs >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        IoResult ready = WaitReady(fd, POLLIN, limited, deadline);
        if (ready != IoResult::Done) return ready;
        ssize_t got = recv(fd, bytes + done, size - done, MSG_DONTWAIT);
        if (got > 0) {
            done += static_cast<size_t>(got);
        } else if (got == 0) {
            return IoResult::Closed;
        } else if (errno == ECONNRESET) {
            return IoResult::Closed;
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoResult::Failed;
        }
    }
    return IoResult::Done;
}

IoResult CommandSocketWire::WriteAll(int fd, const void* buffer, size_t size, int timeoutMs) {
    const bool limited = timeoutMs >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        IoResult ready = WaitReady(fd, POLLOUT, limited, deadline);
        if (ready != IoResult::Done) return ready;
        ssize_t sent = send(fd, bytes + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            done += static_cast<size_t>(sent);
        } else if (errno == EPIPE || errno == ECONNRESET) {
            return IoResult::Closed;
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoResult::Failed;
        }
    }
    return IoResult::Done;
}

}  // namespace velomark
