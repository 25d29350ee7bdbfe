// The image stream's byte format on the command socket: the request's message
// and flags, and the 72-byte little-endian header of every event.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace velomark {

constexpr uint32_t kStreamMessage = 0x8001;
// A stream of a job with a ticket: lParam is the ticket's length, its bytes follow.
constexpr uint32_t kTicketStreamMessage = 0x8002;
constexpr uint64_t kMaxTicketBytes = 4096;
// The sources and their abilities: the reply is the length of the JSON that follows.
constexpr uint32_t kSourcesMessage = 0x8003;
constexpr uint32_t kStreamStartAcquisition = 1;  // flags bit 0; the others must be 0
constexpr uint32_t kStreamMagic = 0x314D5356;    // "VSM1" in memory
constexpr size_t kStreamHeaderSize = 72;
constexpr size_t kStreamInfoOffset = 24;
constexpr size_t kStreamInfoSize = 42;
// Every image's memory file carries all four seals, so neither side can change it
// under the other.
constexpr int kStreamImageSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
// A stream whose waiting events pass this is cut off: its client does not read.
constexpr uint64_t kStreamWaitLimit = uint64_t{1} << 30;

enum StreamEventKind : uint32_t {
    STREAM_IMAGE = 1,
    STREAM_END = 2,
    STREAM_ERROR = 3,
};

struct StreamHeader {
    uint32_t magic = kStreamMagic;
    uint32_t kind = STREAM_IMAGE;
    uint64_t size = 0;
    uint32_t sequence = 0;
    uint32_t reserved = 0;
    unsigned char info[kStreamInfoSize] = {};
};

class StreamWire {
public:
    static void Encode(const StreamHeader& header, unsigned char* out);
    static StreamHeader Decode(const unsigned char* in);
    // One sendmsg of `length` bytes with up to kMaxDescriptors descriptors riding on
    // them; what sendmsg returns (-1 with EINVAL for more descriptors).
    static constexpr size_t kMaxDescriptors = 4;
    static ssize_t Send(int socket, const void* bytes, size_t length, const int* fds,
                        size_t count, int flags);
};

}  // namespace velomark
