#include "bridge/StreamWire.h"

#include <cstring>

#include "bridge/LittleEndian.h"

namespace velomark {

void StreamWire::Encode(const StreamHeader& header, unsigned char* out) {
    std::memset(out, 0, kStreamHeaderSize);
    PutLittleEndian(out, header.magic, 4);
    PutLittleEndian(out + 4, header.kind, 4);
    PutLittleEndian(out + 8, header.size, 8);
    PutLittleEndian(out + 16, header.sequence, 4);
    PutLittleEndian(out + 20, header.reserved, 4);
    std::memcpy(out + kStreamInfoOffset, header.info, kStreamInfoSize);
}

StreamHeader StreamWire::Decode(const unsigned char* in) {
    StreamHeader header;
    header.magic = static_cast<uint32_t>(GetLittleEndian(in, 4));
    header.kind = static_cast<uint32_t>(GetLittleEndian(in + 4, 4));
    header.size = GetLittleEndian(in + 8, 8);
    header.sequence = static_cast<uint32_t>(GetLittleEndian(in + 16, 4));
    header.reserved = static_cast<uint32_t>(GetLittleEndian(in + 20, 4));
    std::memcpy(header.info, in + kStreamInfoOffset, kStreamInfoSize);
    return header;
}

}  // namespace velomark
