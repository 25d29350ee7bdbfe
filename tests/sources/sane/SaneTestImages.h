// The images the SANE tests compare: what scanimage writes (PNM: P4, P5, P6, 8 or
// 16-bit samples, read within the file's bytes) and a delivered packed DIB, both
// decoded to one 0xRRGGBB colour per pixel, row 0 at the top.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB; 16-bit samples keep their high byte

    uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// Decodes a PNM file's bytes; false with the reason in *error when they are not one.
bool DecodePnm(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);
// Decodes a 1, 8 or 24-bit packed DIB (bottom-up) within its bytes.
bool DecodeDib(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);

// The bytes of a global block.
std::vector<uint8_t> BlockContents(HGLOBAL block);

// Where the first difference between two images lies, or "" when they are equal.
std::string FirstDifference(const DecodedImage& expected, const DecodedImage& actual);
