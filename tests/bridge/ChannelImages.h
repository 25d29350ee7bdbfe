// Test images whose description says what their pixels must be, so that a reader
// in another process can tell a complete image from a torn one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/WinTypes.h"
#include "tests/DibRowSize.h"
#include "twain/TwainTypes.h"

namespace velomark {

// Every pixel byte of image `serial` at row y, column byte i.
inline BYTE ChannelImageByte(int serial, int y, int i) {
    return static_cast<BYTE>(serial * 31 + y * 7 + i);
}

// A packed 24-bit DIB of width x height made from `serial`, and its description
// (XResolution's whole part carries the serial).
inline HGLOBAL MakeChannelImage(int serial, int width, int height, TW_IMAGEINFO* info) {
    const int stride = int(DibRowSize(width, 24));
    HGLOBAL h = GlobalAlloc(GHND, 40 + static_cast<size_t>(stride) * height);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::memcpy(p, &header, sizeof header);
    for (int y = 0; y < height; ++y) {
        BYTE* row = p + 40 + static_cast<size_t>(height - 1 - y) * stride;
        for (int i = 0; i < width * 3; ++i) row[i] = ChannelImageByte(serial, y, i);
    }
    GlobalUnlock(h);
    *info = TW_IMAGEINFO{};
    TW_FIX32 resolution{static_cast<TW_INT16>(serial), 0};
    info->XResolution = resolution;
    info->ImageWidth = width;
    info->ImageLength = height;
    info->BitsPerPixel = 24;
    return h;
}

// A packed DIB with the given header, colour table and rows (top row first, each
// row's bytes as stored, padded here to the stride).
inline HGLOBAL MakePackedDib(const BITMAPINFOHEADER& header, const std::vector<RGBQUAD>& table,
                             const std::vector<std::vector<BYTE>>& rowsTopDown) {
    const int stride = int(DibRowSize(header.biWidth, header.biBitCount));
    const int height = header.biHeight;
    const size_t size = 40 + table.size() * 4 + static_cast<size_t>(stride) * height;
    HGLOBAL h = GlobalAlloc(GHND, size);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    std::memcpy(p, &header, 40);
    if (!table.empty()) std::memcpy(p + 40, table.data(), table.size() * 4);
    BYTE* bits = p + 40 + table.size() * 4;
    for (int y = 0; y < height && y < static_cast<int>(rowsTopDown.size()); ++y)
        std::memcpy(bits + static_cast<size_t>(height - 1 - y) * stride, rowsTopDown[y].data(),
                    std::min<size_t>(rowsTopDown[y].size(), static_cast<size_t>(stride)));
    GlobalUnlock(h);
    return h;
}

inline BITMAPINFOHEADER DibHeader(int width, int height, int bits) {
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bits);
    return header;
}

// Whether the data block holds the image that the 42-byte description names.
inline bool ChannelImageMatchesDescription(const unsigned char* data, size_t dataSize,
                                           const unsigned char* description) {
    TW_IMAGEINFO info;
    std::memcpy(&info, description, sizeof info);
    const int serial = info.XResolution.Whole;
    const int width = info.ImageWidth, height = info.ImageLength;
    const int stride = int(DibRowSize(width, 24));
    if (width <= 0 || height <= 0 || 40 + static_cast<size_t>(stride) * height > dataSize)
        return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, data, sizeof header);
    if (header.biWidth != width || header.biHeight != height || header.biBitCount != 24)
        return false;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = data + 40 + static_cast<size_t>(height - 1 - y) * stride;
        for (int i = 0; i < width * 3; ++i)
            if (row[i] != ChannelImageByte(serial, y, i)) return false;
    }
    return true;
}

}  // namespace velomark
