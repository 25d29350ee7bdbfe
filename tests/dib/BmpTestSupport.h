// Shared pieces of the BMP file tests: a scratch folder, the real ImageMagick,
// deterministic images, hand-built BMP files, an image decoder that reads the stored
// rows on its own, and a snapshot of everything a CDIB holds.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "dib/Dib.h"
#include "tests/DibRowSize.h"
#include "tests/ProgramRun.h"

namespace bmptest {

using Bytes = std::vector<uint8_t>;

inline const std::string kCorpusDir = VELOMARK_SHARED_DIR "/testdata/bmpsuite/";

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/velomark-bmp-XXXXXX";
        if (::mkdtemp(name)) m_path = name;
        EXPECT_FALSE(m_path.empty()) << "mkdtemp failed";
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

inline uint32_t Le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
inline uint16_t Le16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
inline void PutLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void PutLe16(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}

// Runs the real ImageMagick (never the stand-in on PATH) without a shell.
inline bool RunConvert(const std::vector<std::string>& args) {
    std::vector<std::string> all{VELOMARK_CONVERT};
    all.insert(all.end(), args.begin(), args.end());
    return velomark::testing::RunProgram(all).exitCode == 0;
}

// ImageMagick's reading of an image file: red, green, blue per pixel, top row first.
inline Bytes ImageMagickRgb(const std::string& image, const TempDir& dir) {
    const std::string out = dir.File("decoded.rgb");
    std::remove(out.c_str());
    EXPECT_TRUE(RunConvert({image, "-depth", "8", "rgb:" + out})) << image;
    return ReadFile(out);
}

// Colour-table entries by bit count, worked out here rather than asked of CDIB.
inline int TableEntriesOf(int bits) { return bits <= 8 ? 1 << bits : 0; }

// The held picture as red, green, blue per pixel, top row first, read from the stored
// rows (bottom row first in the block): 1, 4 and 8 bits through the colour table,
// 16 bits as 5-5-5 widened the way ImageMagick widens it, 24 bits B,G,R, 32 bits B,G,R,x.
inline Bytes DecodeRgb(const CDIB& dib) {
    Bytes rgb;
    if (!dib.m_pBlock) return rgb;
    const int bits = dib.m_pInfo->biBitCount;
    const int w = dib.m_nWidth, h = dib.m_nHeight;
    const size_t stride = DibRowSize(w, bits);
    rgb.reserve(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const BYTE* row = dib.m_pBits + size_t(h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            BYTE r = 0, g = 0, b = 0;
            if (bits <= 8) {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                const int index = (row[x / perByte] >> shift) & ((1 << bits) - 1);
                const RGBQUAD& c = dib.m_pColors[index];
                r = c.rgbRed, g = c.rgbGreen, b = c.rgbBlue;
            } else if (bits == 16) {
                const int v = row[2 * x] | row[2 * x + 1] << 8;
                auto widen = [](int c) { return BYTE(c << 3 | c >> 2); };
                r = widen(v >> 10 & 31), g = widen(v >> 5 & 31), b = widen(v & 31);
            } else {
                const BYTE* p = row + size_t(x) * (bits / 8);
                b = p[0], g = p[1], r = p[2];
            }
            rgb.insert(rgb.end(), {r, g, b});
        }
    }
    return rgb;
}

// Deterministic bytes: the same seed always gives the same sequence.
class ByteSource {
public:
    explicit ByteSource(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    BYTE Next() {
        m_state ^= m_state << 13, m_state ^= m_state >> 17, m_state ^= m_state << 5;
        return BYTE(m_state >> 11);
    }

private:
    uint32_t m_state;
};

// An image made with Create whose colour table and every stored byte (row padding too)
// follow from the seed; the header carries non-zero resolution and colour counts so
// that a dropped field shows.
inline void MakePattern(CDIB& dib, int width, int height, int bits, uint32_t seed) {
    ASSERT_TRUE(dib.Create(width, height, bits));
    dib.m_pInfo->biXPelsPerMeter = 2835 + int(seed);
    dib.m_pInfo->biYPelsPerMeter = 3780;
    dib.m_pInfo->biClrImportant = uint32_t(TableEntriesOf(bits));
    ByteSource next(seed);
    for (int i = 0; i < TableEntriesOf(bits); ++i) {
        dib.m_pColors[i] = {next.Next(), next.Next(), next.Next(), 0};
    }
    const size_t rows = DibRowSize(width, bits) * size_t(height);
    for (size_t i = 0; i < rows; ++i) dib.m_pBits[i] = next.Next();
}

// Everything a CDIB holds: its pointers, sizes, the bytes of its block and its row table.
struct DibState {
    const void* block = nullptr;
    const void* info = nullptr;
    const void* colors = nullptr;
    const void* bits = nullptr;
    const void* rows = nullptr;
    int width = 0, height = 0, stride = 0;
    Bytes blockBytes;
    std::vector<const BYTE*> rowTable;
    bool operator==(const DibState&) const = default;
};

inline DibState Capture(const CDIB& dib) {
    DibState s;
    s.block = dib.m_pBlock, s.rows = dib.m_ppRows;
    s.width = dib.m_nWidth, s.height = dib.m_nHeight;
    if (!dib.m_pBlock) return s;
    s.info = dib.m_pInfo, s.colors = dib.m_pColors, s.bits = dib.m_pBits;
    s.stride = dib.m_nStride;
    const auto* p = static_cast<const BYTE*>(dib.m_pBlock);
    const size_t size = 40 + 4 * size_t(TableEntriesOf(dib.m_pInfo->biBitCount)) +
                        size_t(dib.m_nStride) * size_t(dib.m_nHeight);
    s.blockBytes.assign(p, p + size);
    s.rowTable.assign(dib.m_ppRows, dib.m_ppRows + dib.m_nHeight);
    return s;
}

// What two images must share to be the same picture: sizes and block bytes.
inline bool SameImage(const CDIB& a, const CDIB& b) {
    DibState x = Capture(a), y = Capture(b);
    return x.width == y.width && x.height == y.height && x.stride == y.stride &&
           x.blockBytes == y.blockBytes;
}

inline void PrintTo(const DibState& s, std::ostream* os) {
    *os << "{block " << s.block << ", rows " << s.rows << ", " << s.width << "x" << s.height
        << " stride " << s.stride << ", " << s.blockBytes.size() << " block bytes}";
}

// A hand-built BMP file. Header sizes 12 (OS/2 core, 16-bit sizes and 3-byte table
// entries), 16, 40, 52, 56, 64, 108 and 124 are laid out field by field.
struct BmpRecipe {
    uint32_t headerSize = 40;
    int32_t width = 5;
    int32_t height = 3;  // negative: rows stored top row first
    uint16_t bits = 8;
    uint16_t planes = 1;
    uint32_t compression = BI_RGB;
    uint32_t clrUsed = 0;
    int tableEntries = -1;          // entries stored; -1 for the full table of the bit count
    uint32_t masks[3] = {};         // red, green, blue
    bool masksAfterHeader = false;  // the 12 mask bytes that follow a 40-byte header
    uint32_t gap = 0;               // filler bytes between the table and the rows
    uint32_t seed = 1;
};

struct BuiltBmp {
    Bytes file;
    size_t tableAt = 0;  // offset of the stored colour table
    size_t rowsAt = 0;   // offset of the first stored row (bfOffBits)
    size_t stride = 0;
    int rows = 0;  // number of stored rows
    bool topDown = false;

    // The stored row that holds picture row y (counted from the top).
    const BYTE* PictureRow(int y) const {
        return file.data() + rowsAt + stride * size_t(topDown ? y : rows - 1 - y);
    }
    // The rows in the order a CDIB holds them: bottom row first.
    Bytes RowsBottomUp() const {
        Bytes out;
        for (int y = rows - 1; y >= 0; --y)
            out.insert(out.end(), PictureRow(y), PictureRow(y) + stride);
        return out;
    }
};

inline BuiltBmp BuildBmp(const BmpRecipe& r) {
    BuiltBmp out;
    const bool core = r.headerSize == 12;
    const int entryBytes = core ? 3 : 4;
    const int entries = r.tableEntries >= 0 ? r.tableEntries : TableEntriesOf(r.bits);
    const int64_t height = r.height < 0 ? -int64_t(r.height) : r.height;
    out.stride = DibRowSize(r.width, r.bits);
    out.rows = int(height);
    out.topDown = r.height < 0;

    Bytes& f = out.file;
    f.assign(14 + r.headerSize, 0);
    f[0] = 'B', f[1] = 'M';
    PutLe32(f, 14, r.headerSize);
    if (core) {
        PutLe16(f, 18, uint16_t(r.width));
        PutLe16(f, 20, uint16_t(r.height));
        PutLe16(f, 22, r.planes);
        PutLe16(f, 24, r.bits);
    } else {
        PutLe32(f, 18, uint32_t(r.width));
        PutLe32(f, 22, uint32_t(r.height));
        PutLe16(f, 26, r.planes);
        PutLe16(f, 28, r.bits);
        if (r.headerSize >= 40) {
            PutLe32(f, 30, r.compression);
            PutLe32(f, 34, uint32_t(out.stride * height));
            PutLe32(f, 38, 2835);
            PutLe32(f, 42, 2834);
            PutLe32(f, 46, r.clrUsed);
            PutLe32(f, 50, 7);
        }
        if (r.headerSize >= 52) {
            for (int i = 0; i < 3; ++i) PutLe32(f, 54 + 4 * i, r.masks[i]);
        }
    }
    if (r.masksAfterHeader) {
        for (uint32_t m : r.masks)
            f.insert(f.end(), {BYTE(m), BYTE(m >> 8), BYTE(m >> 16), BYTE(m >> 24)});
    }
    ByteSource next(r.seed);
    out.tableAt = f.size();
    for (int i = 0; i < entries * entryBytes; ++i) f.push_back(next.Next());
    f.insert(f.end(), r.gap, 0xEE);
    out.rowsAt = f.size();
    PutLe32(f, 10, uint32_t(out.rowsAt));
    for (size_t i = 0; i < out.stride * size_t(height); ++i) f.push_back(next.Next());
    PutLe32(f, 2, uint32_t(f.size()));
    return out;
}

// The packed DIB of an image, as PackToGlobal hands it over.
inline Bytes PackedBytes(const CDIB& dib) {
    HGLOBAL h = dib.PackToGlobal();
    if (!h) return {};
    const auto* p = static_cast<const BYTE*>(GlobalLock(h));
    Bytes bytes(p, p + GlobalSize(h));
    GlobalUnlock(h);
    GlobalFree(h);
    return bytes;
}

// A global memory block holding exactly `bytes`, so that the sanitizer sees any read past it.
inline HGLOBAL BlockOf(const BYTE* data, size_t size) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, size);
    if (h && size) {
        std::memcpy(GlobalLock(h), data, size);
        GlobalUnlock(h);
    }
    return h;
}

// Bit count and size of a test image, printed readably in parameterised test names.
struct Shape {
    int bits, width, height;
};

inline void PrintTo(const Shape& s, std::ostream* os) {
    *os << s.bits << "-bit " << s.width << "x" << s.height;
}

}  // namespace bmptest
