// Little-endian integers in byte buffers: the wire formats of the command socket
// and the image stream, and the headers of packed DIBs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velomark {

inline void PutLittleEndian(unsigned char* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint64_t GetLittleEndian(const unsigned char* in, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

inline uint32_t GetU32(const unsigned char* in) { return static_cast<uint32_t>(GetLittleEndian(in, 4)); }

}  // namespace velomark
