// The image stream's C functions: the request on the command socket, then each
// event's header checked before anything it announces is trusted.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bridge/CommandSocketClient.h"
#include "bridge/CommandSocketPath.h"
#include "bridge/StreamWire.h"
#include "client/ClientHandle.h"
#include "client/TicketWriter.h"
#include "client/velomark_client.h"

struct velomark_stream {
    velomark_client* client = nullptr;
    int fd = -1;
    uint32_t given = 0;
    uint64_t wanted = 0;  // 0: until the acquisition ends
    velomark_result ended = VELOMARK_OK;  // once set, every further call returns it
    std::string serverText;               // the error event's own words
};

namespace {

using Clock = std::chrono::steady_clock;
using velomark::StreamHeader;

static_assert(VELOMARK_TICKET_MAX == velomark::kMaxTicketBytes);
constexpr int kConnectTimeoutMs = 5000;
constexpr int kReplyTimeoutMs = 30000;
// Once an event has begun, the rest of it must follow within this time.
constexpr int kRestOfEventMs = 5000;
constexpr uint64_t kLongestErrorText = 65536;
constexpr size_t kDibHeaderSize = 40;

velomark_result End(velomark_stream* stream, velomark_result result, std::string detail) {
    stream->ended = result;
    stream->client->lastError = std::move(detail);
    return result;
}

void CloseAll(std::vector<int>& fds) {
    for (int fd : fds) close(fd);
    fds.clear();
}

int RemainingMs(bool limited, Clock::time_point deadline) {
    if (!limited) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads exactly `size` bytes, keeping every descriptor that comes along. The time
// limit holds until the first byte; the rest must follow within kRestOfEventMs, or
// the caller's limit when that is shorter.
velomark_result ReceiveExact(velomark_stream* stream, unsigned char* buffer, size_t size,
                             int timeoutMs, std::vector<int>& fds) {
    bool limited = timeoutMs >= 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    size_t done = 0;
    while (done < size) {
        pollfd entry{stream->fd, POLLIN, 0};
        const int ready = poll(&entry, 1, RemainingMs(limited, deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return End(stream, VELOMARK_E_SOCKET, std::strerror(errno));
        if (ready == 0) {
            if (done == 0) {
                stream->client->lastError = "no event within the time limit";
                return VELOMARK_E_TIMEOUT;
            }
            return End(stream, VELOMARK_E_PROTOCOL, "an event stopped halfway");
        }
        iovec part{buffer + done, size - done};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t got = recvmsg(stream->fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) return End(stream, VELOMARK_E_SOCKET, std::strerror(errno));
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                fds.push_back(fd);
            }
        }
        if (message.msg_flags & MSG_CTRUNC)
            return End(stream, VELOMARK_E_PROTOCOL, "more descriptors came than an event has");
        if (got == 0) {
            CloseAll(fds);
            return End(stream, done == 0 ? VELOMARK_E_SOCKET : VELOMARK_E_PROTOCOL,
                       done == 0 ? "Velomark closed the stream"
                                 : "the stream ended in the middle of an event");
        }
        if (done == 0) {
            const int rest = timeoutMs >= 0 ? std::min(timeoutMs, kRestOfEventMs) : kRestOfEventMs;
            limited = true;
            deadline = Clock::now() + std::chrono::milliseconds(rest);
        }
        done += static_cast<size_t>(got);
    }
    return VELOMARK_OK;
}

int16_t Int16At(const unsigned char* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
int32_t Int32At(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
}
double Fix32At(const unsigned char* p) {
    return Int16At(p) + static_cast<uint16_t>(p[2] | (p[3] << 8)) / 65536.0;
}

// Maps the image event's one descriptor after checking it is what the header says.
velomark_result MapImage(velomark_stream* stream, const StreamHeader& header, int fd,
                         velomark_image** image) {
    struct stat file {};
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode))
        return End(stream, VELOMARK_E_PROTOCOL, "the image's descriptor is not a memory file");
    const int seals = fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & velomark::kStreamImageSeals) != velomark::kStreamImageSeals)
        return End(stream, VELOMARK_E_PROTOCOL, "the image's memory file is not sealed");
    if (header.size < kDibHeaderSize || static_cast<uint64_t>(file.st_size) < header.size)
        return End(stream, VELOMARK_E_PROTOCOL,
                   "the image's size " + std::to_string(header.size) + " does not fit its file of " +
                       std::to_string(file.st_size) + " bytes");
    void* mapped = mmap(nullptr, header.size, PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED)
        return End(stream, VELOMARK_E_MEMORY, std::string("cannot map the image: ") +
                                                  std::strerror(errno));
    const auto* dib = static_cast<const unsigned char*>(mapped);
    std::string why;
    if (velomark::PackedDib24Size(dib, header.size, why) == 0) {
        munmap(mapped, header.size);
        return End(stream, VELOMARK_E_PROTOCOL,
                   "the memory file holds no packed 24-bit image: " + why);
    }
    auto* made = new (std::nothrow) velomark_image{};
    if (!made) {
        munmap(mapped, header.size);
        return End(stream, VELOMARK_E_MEMORY, "out of memory");
    }
    made->dib = dib;
    made->size = header.size;
    made->sequence = header.sequence;
    std::memcpy(made->info, header.info, sizeof(made->info));
    made->x_resolution = Fix32At(header.info);
    made->y_resolution = Fix32At(header.info + 4);
    made->width = Int32At(header.info + 8);
    made->height = Int32At(header.info + 12);
    made->bits_per_pixel = Int16At(header.info + 34);
    *image = made;
    return VELOMARK_OK;
}

velomark_result NextEvent(velomark_stream* stream, velomark_image** image, int timeoutMs) {
    unsigned char bytes[velomark::kStreamHeaderSize];
    std::vector<int> fds;
    velomark_result result = ReceiveExact(stream, bytes, sizeof(bytes), timeoutMs, fds);
    if (result != VELOMARK_OK) {
        CloseAll(fds);
        return result;
    }
    const StreamHeader header = velomark::StreamWire::Decode(bytes);
    const bool padded = std::all_of(bytes + velomark::kStreamInfoOffset + velomark::kStreamInfoSize,
                                    bytes + sizeof(bytes), [](unsigned char b) { return b == 0; });
    if (header.magic != velomark::kStreamMagic || header.reserved != 0 || !padded) {
        CloseAll(fds);
        return End(stream, VELOMARK_E_PROTOCOL, "an event header without the stream's magic");
    }
    if (header.kind == velomark::STREAM_IMAGE) {
        if (fds.size() != 1) {
            CloseAll(fds);
            return End(stream, VELOMARK_E_PROTOCOL,
                       "an image event came with " + std::to_string(fds.size()) +
                           " descriptors instead of one");
        }
        if (header.sequence != stream->given + 1) {
            CloseAll(fds);
            return End(stream, VELOMARK_E_PROTOCOL, "an image event out of sequence");
        }
        result = MapImage(stream, header, fds[0], image);
        CloseAll(fds);
        if (result == VELOMARK_OK) ++stream->given;
        return result;
    }
    if (!fds.empty()) {
        CloseAll(fds);
        return End(stream, VELOMARK_E_PROTOCOL, "a descriptor came with an event that has none");
    }
    if (header.kind == velomark::STREAM_END) {
        stream->given = header.sequence;
        return End(stream, VELOMARK_E_END, "the acquisition ended");
    }
    if (header.kind == velomark::STREAM_ERROR && header.size <= kLongestErrorText) {
        std::string text(header.size, '\0');
        if (header.size > 0) {
            result = ReceiveExact(stream, reinterpret_cast<unsigned char*>(text.data()),
                                  text.size(), kRestOfEventMs, fds);
            const bool extra = !fds.empty();
            CloseAll(fds);
            if (result != VELOMARK_OK)
                return result == VELOMARK_E_TIMEOUT
                           ? End(stream, VELOMARK_E_PROTOCOL, "an error text stopped halfway")
                           : result;
            if (extra)
                return End(stream, VELOMARK_E_PROTOCOL, "a descriptor came with an error text");
        }
        stream->serverText = text;
        return End(stream, VELOMARK_E_SERVER, "Velomark: " + text);
    }
    return End(stream, VELOMARK_E_PROTOCOL,
               "an event of unknown kind " + std::to_string(header.kind));
}

// Sends the stream request and the bytes that follow it (a ticket) and, once
// Velomark accepted it, makes the stream of the connection.
velomark_result OpenStream(velomark_client* client, const velomark::CommandRequest& request,
                           const std::string& following, const char* refusal,
                           velomark_stream** stream) {
    *stream = nullptr;
    if (client->socketPath.empty()) {
        std::string error;
        if (!velomark::CommandSocketPath::Resolve(client->socketPath, error)) {
            client->lastError = error;
            return VELOMARK_E_SOCKET;
        }
    }
    velomark::CommandSocketClient connection;
    velomark::CommandCallResult called = connection.Connect(client->socketPath, kConnectTimeoutMs);
    int64_t reply = -1;
    if (called == velomark::CommandCallResult::Replied) {
        std::string bytes(velomark::kCommandRequestSize, '\0');
        velomark::CommandSocketWire::EncodeRequest(request,
                                                   reinterpret_cast<unsigned char*>(bytes.data()));
        bytes += following;
        called = connection.SendRaw(bytes.data(), bytes.size(), kReplyTimeoutMs);
        if (called == velomark::CommandCallResult::Replied)
            called = connection.ReadReply(kReplyTimeoutMs, reply);
    }
    switch (called) {
        case velomark::CommandCallResult::Replied: break;
        case velomark::CommandCallResult::NotRunning:
            client->lastError = connection.ErrorText();
            return VELOMARK_E_NOT_RUNNING;
        case velomark::CommandCallResult::TimedOut:
            client->lastError = connection.ErrorText();
            return VELOMARK_E_TIMEOUT;
        default: client->lastError = connection.ErrorText(); return VELOMARK_E_SOCKET;
    }
    if (reply != velomark::kCommandDispatched) {
        client->lastError = refusal;
        return VELOMARK_E_REFUSED;
    }
    auto* opened = new (std::nothrow) velomark_stream;
    if (!opened) return VELOMARK_E_MEMORY;
    opened->client = client;
    opened->fd = connection.Release();
    opened->wanted = request.wParam;
    *stream = opened;
    client->lastError.clear();
    return VELOMARK_OK;
}

}  // namespace

extern "C" {

velomark_result velomark_stream_open(velomark_client* client, uint32_t flags, uint64_t count,
                                     velomark_stream** stream) {
    if (!client || !stream) return VELOMARK_E_ARGUMENT;
    velomark::CommandRequest request;
    request.message = velomark::kStreamMessage;
    request.mode = flags;
    request.wParam = count;
    return OpenStream(client, request, "",
                      "Velomark refused the stream (no TWAIN driver, unknown flags, or Acquire "
                      "disabled: no source selected yet)",
                      stream);
}

velomark_result velomark_stream_open_ticket(velomark_client* client, const velomark_ticket* ticket,
                                            uint64_t wanted, velomark_stream** stream) {
    if (!client || !ticket || !stream) return VELOMARK_E_ARGUMENT;
    *stream = nullptr;
    std::string text;
    if (!velomark::TicketWriter::Write(*ticket, text, client->lastError))
        return VELOMARK_E_ARGUMENT;
    velomark::CommandRequest request;
    request.message = velomark::kTicketStreamMessage;
    request.mode = 0;
    request.wParam = wanted;
    request.lParam = text.size();
    return OpenStream(client, request, text,
                      "Velomark refused the ticket (malformed, an unknown key or value, or no "
                      "TWAIN driver)",
                      stream);
}

const char* velomark_stream_error(const velomark_stream* stream) {
    return stream ? stream->serverText.c_str() : "";
}

velomark_result velomark_stream_next(velomark_stream* stream, velomark_image** image,
                                     int timeout_ms) {
    if (!stream || !image) return VELOMARK_E_ARGUMENT;
    *image = nullptr;
    if (stream->ended != VELOMARK_OK) return stream->ended;
    // Velomark closes the stream after the images asked for, without an end event.
    if (stream->wanted != 0 && stream->given >= stream->wanted)
        return End(stream, VELOMARK_E_END, "the images asked for have come");
    return NextEvent(stream, image, timeout_ms);
}

uint32_t velomark_stream_count(const velomark_stream* stream) {
    return stream ? stream->given : 0;
}

void velomark_image_release(velomark_image* image) {
    if (!image) return;
    munmap(const_cast<unsigned char*>(image->dib), image->size);
    delete image;
}

void velomark_stream_close(velomark_stream* stream) {
    if (!stream) return;
    if (stream->fd >= 0) close(stream->fd);
    delete stream;
}

}  // extern "C"
