#include "engine/ScannerIcon.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/PageEncoder.h"

namespace velomark {

namespace {

// The desktop icon's 32-pixel design, each of its pixels four here.
constexpr int kScale = 4;
constexpr int kSide = 32 * kScale;
constexpr size_t kStride = kSide * 3;  // a multiple of 4: no row padding

struct Rgb {
    uint8_t r, g, b;
};

void Fill(unsigned char* bits, int left, int top, int width, int height, Rgb colour) {
    for (int y = top * kScale; y < (top + height) * kScale; ++y) {
        // Bottom-up rows.
        unsigned char* row = bits + size_t(kSide - 1 - y) * kStride;
        for (int x = left * kScale; x < (left + width) * kScale; ++x) {
            row[x * 3] = colour.b;
            row[x * 3 + 1] = colour.g;
            row[x * 3 + 2] = colour.r;
        }
    }
}

std::string EncodeIcon() {
    std::vector<unsigned char> dib(40 + kStride * kSide, 0);
    const int32_t header[] = {40, kSide, kSide};
    std::memcpy(dib.data(), header, sizeof header);
    const uint16_t planesAndBits[] = {1, 24};
    std::memcpy(dib.data() + 12, planesAndBits, sizeof planesAndBits);
    unsigned char* bits = dib.data() + 40;
    Fill(bits, 0, 0, 32, 32, {40, 70, 120});
    Fill(bits, 7, 4, 18, 24, {0, 0, 0});
    Fill(bits, 8, 5, 16, 22, {255, 255, 255});
    Fill(bits, 3, 13, 26, 4, {90, 200, 255});
    std::string png;
    PageEncoder(dib).Encode(PageFormat::Png, false, 72, &png);
    return png;
}

}  // namespace

const std::string& ScannerIconPng() {
    // Drawn and encoded once, on the first request that asks for it.
    static const std::string png = EncodeIcon();
    return png;
}

}  // namespace velomark
