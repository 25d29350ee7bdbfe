// Turns rows of a DIB (1, 4, 8, 16, 24 or 32 bits, uncompressed) into colour values
// 0x00BBGGRR, translating palette indices through the colour table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

class DibRowDecoder {
public:
    // Reads the header and colour table; Valid() is false for formats it cannot decode.
    explicit DibRowDecoder(const BITMAPINFO* bmi);

    bool Valid() const { return m_valid; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }  // absolute value
    bool TopDown() const { return m_topDown; }
    size_t Stride() const { return m_stride; }

    // Decodes pixels first .. first + count - 1 of one stored row.
    void Decode(const BYTE* row, int first, int count, uint32_t* out) const;

private:
    bool m_valid = false;
    int m_width = 0;
    int m_height = 0;
    bool m_topDown = false;
    int m_bitCount = 0;
    size_t m_stride = 0;
    uint32_t m_palette[256] = {};
};
