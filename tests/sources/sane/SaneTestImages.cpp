#include "tests/sources/sane/SaneTestImages.h"

#include <cctype>
#include <cstring>
#include <sstream>

#include "platform/WinTypes.h"
#include "tests/DibRowSize.h"

namespace {

// Reads one header number of a PNM file, skipping blanks and comments.
bool ReadNumber(const std::vector<uint8_t>& bytes, size_t* at, long* value) {
    while (*at < bytes.size()) {
        if (bytes[*at] == '#') {
            while (*at < bytes.size() && bytes[*at] != '\n') ++*at;
        } else if (std::isspace(bytes[*at])) {
            ++*at;
        } else {
            break;
        }
    }
    long number = 0;
    size_t digits = 0;
    while (*at < bytes.size() && std::isdigit(bytes[*at]) && digits < 9) {
        number = number * 10 + (bytes[*at] - '0');
        ++*at;
        ++digits;
    }
    *value = number;
    return digits > 0;
}

}  // namespace

bool DecodePnm(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
    if (bytes.size() < 2 || bytes[0] != 'P' ||
        (bytes[1] != '4' && bytes[1] != '5' && bytes[1] != '6')) {
        *error = "not a P4, P5 or P6 file";
        return false;
    }
    const char kind = char(bytes[1]);
    size_t at = 2;
    long width = 0, height = 0, maxval = 1;
    if (!ReadNumber(bytes, &at, &width) || !ReadNumber(bytes, &at, &height) ||
        (kind != '4' && !ReadNumber(bytes, &at, &maxval)) || width <= 0 || height <= 0 ||
        (kind != '4' && maxval != 255 && maxval != 65535) || at >= bytes.size()) {
        *error = "bad PNM header";
        return false;
    }
    ++at;  // the one blank after the header
    const size_t sampleBytes = maxval > 255 ? 2 : 1;
    const size_t rowBytes = kind == '4'   ? (size_t(width) + 7) / 8
                            : kind == '5' ? size_t(width) * sampleBytes
                                          : size_t(width) * 3 * sampleBytes;
    if (bytes.size() - at < rowBytes * size_t(height)) {
        *error = "PNM file shorter than its pixels";
        return false;
    }
    image->width = int(width);
    image->height = int(height);
    image->pixels.assign(size_t(width) * size_t(height), 0);
    for (long y = 0; y < height; ++y) {
        const uint8_t* row = bytes.data() + at + size_t(y) * rowBytes;
        for (long x = 0; x < width; ++x) {
            uint32_t colour = 0;
            if (kind == '4') {
                const bool black = (row[x / 8] >> (7 - x % 8)) & 1;
                colour = black ? 0 : 0xffffff;
            } else if (kind == '5') {
                const uint32_t v = row[size_t(x) * sampleBytes];  // high byte first
                colour = v << 16 | v << 8 | v;
            } else {
                const uint8_t* p = row + size_t(x) * 3 * sampleBytes;
                colour = uint32_t(p[0]) << 16 | uint32_t(p[sampleBytes]) << 8 | p[2 * sampleBytes];
            }
            image->pixels[size_t(y) * size_t(width) + size_t(x)] = colour;
        }
    }
    return true;
}

bool DecodeDib(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
    BITMAPINFOHEADER header{};
    if (bytes.size() < sizeof header) {
        *error = "block shorter than a BITMAPINFOHEADER";
        return false;
    }
    std::memcpy(&header, bytes.data(), sizeof header);
    const int bits = header.biBitCount;
    if (header.biSize != 40 || header.biWidth <= 0 || header.biHeight <= 0 ||
        (bits != 1 && bits != 8 && bits != 24) || header.biCompression != 0) {
        *error = "unexpected DIB header";
        return false;
    }
    const size_t tableBytes = size_t(header.biClrUsed) * sizeof(RGBQUAD);
    const size_t stride = DibRowSize(header.biWidth, bits);
    const size_t pixelsAt = sizeof header + tableBytes;
    if (bytes.size() < pixelsAt || (bytes.size() - pixelsAt) / stride < size_t(header.biHeight) ||
        (bits != 24 && header.biClrUsed != (1u << bits))) {
        *error = "DIB block shorter than its pixels, or its table is not full";
        return false;
    }
    const auto* table = reinterpret_cast<const RGBQUAD*>(bytes.data() + sizeof header);
    image->width = header.biWidth;
    image->height = header.biHeight;
    image->pixels.assign(size_t(image->width) * size_t(image->height), 0);
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = bytes.data() + pixelsAt + size_t(image->height - 1 - y) * stride;
        for (int x = 0; x < image->width; ++x) {
            uint32_t colour = 0;
            if (bits == 24) {
                colour =
                    uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
            } else {
                const unsigned index = bits == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1;
                const RGBQUAD& q = table[index];
                colour = uint32_t(q.rgbRed) << 16 | uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
            }
            image->pixels[size_t(y) * size_t(image->width) + size_t(x)] = colour;
        }
    }
    return true;
}

std::vector<uint8_t> BlockContents(HGLOBAL block) {
    const size_t size = GlobalSize(block);
    const auto* data = static_cast<const uint8_t*>(GlobalLock(block));
    std::vector<uint8_t> bytes(data, data + size);
    GlobalUnlock(block);
    return bytes;
}

std::string FirstDifference(const DecodedImage& expected, const DecodedImage& actual) {
    std::ostringstream out;
    if (expected.width != actual.width || expected.height != actual.height) {
        out << "size " << actual.width << "x" << actual.height << ", expected " << expected.width
            << "x" << expected.height;
        return out.str();
    }
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (expected.At(x, y) != actual.At(x, y)) {
                out << std::hex << "pixel (" << std::dec << x << ", " << y << ") is 0x" << std::hex
                    << actual.At(x, y) << ", expected 0x" << expected.At(x, y);
                return out.str();
            }
    return {};
}
