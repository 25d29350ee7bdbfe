// The images the stand-in Velomark publishes, computed the same way by the tests
// that check what a client saved: an 8-bit image with a colour table, or a 24-bit
// one, whose pixels depend on the image's number and position.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>
#include "tests/DibRowSize.h"

namespace velomark::testing {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

class SyntheticImage {
public:
    // Odd width: the 24-bit rows need padding, the 8-bit rows too.
    static constexpr int kWidth = 37;
    static constexpr int kHeight = 21;

    static uint8_t Index(int image, int x, int y) {
        return static_cast<uint8_t>(x * 7 + y * 13 + image * 29);
    }
    static Rgb PaletteColor(int index) {
        return {static_cast<uint8_t>(index), static_cast<uint8_t>(255 - index),
                static_cast<uint8_t>(index * 3 + 1)};
    }
    static Rgb Direct(int image, int x, int y) {
        return {static_cast<uint8_t>(x * 5 + image), static_cast<uint8_t>(y * 11 + 3),
                static_cast<uint8_t>((x ^ y) * 9 + image * 17)};
    }
    // The colour a client must see at (x, y), y counted from the top.
    static Rgb Expected(int image, int bits, int x, int y) {
        return bits == 8 ? PaletteColor(Index(image, x, y)) : Direct(image, x, y);
    }

    // The packed DIB a source would hand over: 40-byte header, the table for 8
    // bits, rows bottom-up padded to 4 bytes.
    static std::vector<unsigned char> PackedSource(int image, int bits) {
        const int stride = int(DibRowSize(kWidth, bits));
        const int colors = bits == 8 ? 256 : 0;
        std::vector<unsigned char> dib(40 + 4 * colors + static_cast<size_t>(stride) * kHeight);
        Put32(dib, 0, 40);
        Put32(dib, 4, kWidth);
        Put32(dib, 8, kHeight);
        dib[12] = 1;
        dib[14] = static_cast<unsigned char>(bits);
        Put32(dib, 20, static_cast<uint32_t>(stride * kHeight));
        Put32(dib, 32, static_cast<uint32_t>(colors));
        for (int i = 0; i < colors; ++i) {
            Rgb c = PaletteColor(i);
            unsigned char* entry = &dib[40 + 4 * i];
            entry[0] = c.b;
            entry[1] = c.g;
            entry[2] = c.r;
        }
        unsigned char* rows = dib.data() + 40 + 4 * colors;
        for (int y = 0; y < kHeight; ++y) {
            unsigned char* row = rows + static_cast<size_t>(kHeight - 1 - y) * stride;
            for (int x = 0; x < kWidth; ++x) {
                if (bits == 8) {
                    row[x] = Index(image, x, y);
                } else {
                    Rgb c = Direct(image, x, y);
                    row[3 * x] = c.b;
                    row[3 * x + 1] = c.g;
                    row[3 * x + 2] = c.r;
                }
            }
        }
        return dib;
    }

    // The packed 24-bit DIB a client copies out for that image.
    static std::vector<unsigned char> PackedResult(int image, int bits) {
        const int stride = int(DibRowSize(kWidth, 24));
        std::vector<unsigned char> dib(40 + static_cast<size_t>(stride) * kHeight);
        Put32(dib, 0, 40);
        Put32(dib, 4, kWidth);
        Put32(dib, 8, kHeight);
        dib[12] = 1;
        dib[14] = 24;
        for (int y = 0; y < kHeight; ++y) {
            unsigned char* row = dib.data() + 40 + static_cast<size_t>(kHeight - 1 - y) * stride;
            for (int x = 0; x < kWidth; ++x) {
                Rgb c = Expected(image, bits, x, y);
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            }
        }
        return dib;
    }

    // Whether the rows of a 24-bit image (bottom-up, from `rows`) hold the
    // expected pixels. Row padding is not compared: nothing defines its bytes.
    static bool SamePixels(const unsigned char* rows, size_t size, int image, int bits) {
        const size_t stride = DibRowSize(kWidth, 24);
        if (size != stride * kHeight) return false;
        std::vector<unsigned char> expected = PackedResult(image, bits);
        for (size_t row = 0; row < kHeight; ++row) {
            if (std::memcmp(rows + row * stride, expected.data() + 40 + row * stride, 3 * kWidth) !=
                0)
                return false;
        }
        return true;
    }

private:
    static void Put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
};

}  // namespace velomark::testing
