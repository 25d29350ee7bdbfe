// Reads the info header of a packed DIB or BMP file field by field, whatever its
// version, into the 40-byte form that CDIB holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

enum class DibHeaderSource {
    kPackedDib,  // in memory: 40, 52, 56, 108 or 124 bytes
    kBmpFile,    // in a file: also the OS/2 headers of 12, 16 and 64 bytes
};

struct DibHeaderInfo {
    BITMAPINFOHEADER header{};  // as held: biSize 40, biHeight positive
    uint32_t storedSize = 0;    // header bytes as stored; the colour table follows them
    uint32_t entryBytes = 4;    // bytes per stored colour-table entry (3 for 12-byte headers)
    bool topDown = false;       // rows stored top row first (biHeight was negative)
    bool hasMasks = false;      // the header itself carries the colour masks
    uint32_t masks[3] = {};     // red, green, blue
};

// Value put in biCompression for an OS/2 compression that has no Windows meaning,
// so that every reader refuses it.
constexpr DWORD kUnsupportedCompression = 0xFFFF;

// False for an unknown header size, fewer than `available` bytes, or a height that
// cannot be made positive.
bool ReadDibHeader(const BYTE* p, size_t available, DibHeaderSource source, DibHeaderInfo* out);

// Little-endian field readers.
inline uint16_t ReadLe16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const BYTE* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(BYTE* p, uint16_t v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
inline void WriteLe32(BYTE* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}
