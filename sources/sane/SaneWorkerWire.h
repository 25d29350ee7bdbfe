// The messages between sane.ds and velomark-sane-worker: one SOCK_SEQPACKET packet
// each, little-endian fields. A page's frame goes through a memory region sane.ds
// gives the worker beside Open, segment by segment, each in a slot of kSlotBytes that
// sane.ds hands back once it has the bytes. The worker's packets are untrusted: every
// read is checked against the packet's end, every segment against the region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sane_wire {

// Requests, from sane.ds.
enum class Request : uint32_t {
    List = 1,        // -> count, then name, vendor, model, type of each device
    Open = 2,        // device name; the frame region's memory file beside it
    Descriptor = 3,  // option -> count, then for it and the next ones: present, descriptor
    Control = 4,     // option, action, value -> info, value
    Parameters = 5,  // -> format, last frame, bytes per line, pixels per line, lines, depth
    Start = 6,
    ReadFrame = 7,  // -> Segment packets, then a reply with the frame's size
    Cancel = 8,     // never answered
    Close = 9,
    Release = 10,   // the oldest segment's slot is free again; never answered
};

// From the worker: Reply (int32 status, text, then the request's own fields), or,
// while a frame is read, Segment (uint64 offset, uint64 size: the bytes read since
// the last one, at that offset of the frame region; size 0 only says the read goes
// on, and takes no slot).
constexpr uint32_t kReply = 100;
constexpr uint32_t kSegment = 101;

// The frame region: a ring of slots, each a segment's room. Four let the worker read
// ahead while sane.ds converts; the memory is the same for every page. Slots of 1 MiB
// measured faster than 2 MiB (less fresh memory for each new worker, bytes still in
// the cache when converted) and no slower than smaller ones.
constexpr size_t kSlotBytes = 1024 * 1024;
constexpr size_t kSlots = 4;

// The largest packet either side sends or takes.
constexpr size_t kMaxPacket = 64 * 1024;
// The longest text of a descriptor or a device the worker passes on.
constexpr size_t kMaxText = 4096;

class Writer {
public:
    void U32(uint32_t value) { Put(value, 4); }
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void U64(uint64_t value) { Put(value, 8); }
    void Text(const std::string& text);  // cut at kMaxText
    void Bytes(const void* data, size_t size);
    // Bytes as they are, without a length.
    void Raw(const std::vector<unsigned char>& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    }
    const std::vector<unsigned char>& Packet() const { return m_bytes; }

private:
    void Put(uint64_t value, size_t bytes);
    std::vector<unsigned char> m_bytes;
};

// Each read fails, and every later one, once the packet has too few bytes left.
class Reader {
public:
    Reader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}
    bool U32(uint32_t* value);
    bool I32(int32_t* value);
    bool U64(uint64_t* value);
    bool Text(std::string* text);
    // A length-prefixed run of bytes; `size` bytes exactly when expected is not -1.
    bool Bytes(std::vector<unsigned char>* bytes, long expected = -1);
    bool AtEnd() const { return m_ok && m_offset == m_size; }
    size_t Offset() const { return m_offset; }

private:
    bool Take(size_t count, const unsigned char** at);
    const unsigned char* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

// One packet, with `passFd` beside it when it is not -1; false when the socket refused.
bool Send(int socket, const std::vector<unsigned char>& packet, int passFd = -1);
// One packet into `packet`, and the descriptor passed beside it (close-on-exec) in
// *fd, else -1. 0: a packet; -1: the other side is gone or the socket failed;
// -2: a packet that is not of the protocol (too long, more than one descriptor).
int Receive(int socket, std::vector<unsigned char>* packet, int* fd);

}  // namespace sane_wire
