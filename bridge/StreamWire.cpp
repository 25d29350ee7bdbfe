#include "bridge/StreamWire.h"

#include <cstring>

namespace velomark {

namespace {

void Put(unsigned char* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t Get(const unsigned char* in, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

}  // namespace

void StreamWire::Encode(const StreamHeader& header, unsigned char* out) {
    std::memset(out, 0, kStreamHeaderSize);
    Put(out, header.magic, 4);
    Put(out + 4, header.kind, 4);
    Put(out + 8, header.size, 8);
    Put(out + 16, header.sequence, 4);
    Put(out + 20, header.reserved, 4);
    std::memcpy(out + kStreamInfoOffset, header.info, kStreamInfoSize);
}

StreamHeader StreamWire::Decode(const unsigned char* in) {
    StreamHeader header;
    header.magic = static_cast<uint32_t>(Get(in, 4));
    header.kind = static_cast<uint32_t>(Get(in + 4, 4));
    header.size = Get(in + 8, 8);
    header.sequence = static_cast<uint32_t>(Get(in + 16, 4));
    header.reserved = static_cast<uint32_t>(Get(in + 20, 4));
    std::memcpy(header.info, in + kStreamInfoOffset, kStreamInfoSize);
    return header;
}

}  // namespace velomark
