// Native transfers that hold a TIFF, as Linux TWAIN sources give them: made with
// libtiff here, taken through NativeImage as CTwain takes them (a global memory
// block, whose size is known). Good ones become packed DIBs with the same pixels;
// a cut one, or one whose strip lies past its end, is refused and read no further.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dib/Dib.h"
#include "tests/sources/TestChartPages.h"
#include "twain/NativeImage.h"

namespace {

constexpr uint32_t kWidth = 37;
constexpr uint32_t kHeight = 23;

// A sample value that differs along both axes and between channels.
uint8_t Sample(uint32_t x, uint32_t y, int channel) {
    return static_cast<uint8_t>(x * 7 + y * 13 + channel * 85);
}

struct TiffCase {
    const char* name;
    const char* mode;  // "w" little-endian, "wb" big-endian
    uint16_t samples;
    uint16_t bits;
    uint16_t compression;
    bool tiled;
};

std::vector<unsigned char> MakeTiff(const TiffCase& c) {
    char path[] = "/tmp/velomark-native-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    TIFF* tiff = TIFFOpen(path, c.mode);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 c.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, c.compression);
    const size_t rowBytes = (size_t(kWidth) * c.samples * c.bits + 7) / 8;
    std::vector<std::vector<uint8_t>> rows(kHeight, std::vector<uint8_t>(rowBytes, 0));
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            for (int s = 0; s < c.samples; ++s) {
                const uint8_t v = Sample(x, y, s);
                if (c.bits == 8) rows[y][x * c.samples + s] = v;
                else if (v & 0x80) rows[y][x / 8] |= uint8_t(0x80 >> (x % 8));
            }
    if (c.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        std::vector<uint8_t> tile(16 * 16 * c.samples);
        for (uint32_t ty = 0; ty < kHeight; ty += 16)
            for (uint32_t tx = 0; tx < kWidth; tx += 16) {
                std::fill(tile.begin(), tile.end(), 0);
                for (uint32_t y = ty; y < ty + 16 && y < kHeight; ++y)
                    for (uint32_t x = tx; x < tx + 16 && x < kWidth; ++x)
                        std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * c.samples],
                                    &rows[y][x * c.samples], c.samples);
                TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kHeight);
        for (uint32_t y = 0; y < kHeight; ++y) TIFFWriteScanline(tiff, rows[y].data(), y, 0);
    }
    TIFFClose(tiff);
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    std::remove(path);
    return bytes;
}

TW_IMAGEINFO Described(uint16_t bitsPerPixel) {
    TW_IMAGEINFO info{};
    info.ImageWidth = kWidth;
    info.ImageLength = kHeight;
    info.BitsPerPixel = static_cast<TW_INT16>(bitsPerPixel);
    info.XResolution.Whole = 200;
    info.YResolution.Whole = 200;
    return info;
}

// The bytes handed over in a global memory block, as Velomark's DSM hands them.
HGLOBAL Convert(const std::vector<unsigned char>& bytes, TW_IMAGEINFO* info, std::string* why) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    HGLOBAL dib = NativeImage::ToPackedDib(block, TwainMemory(), info, why);
    GlobalFree(block);
    return dib;
}

class NativeTiffTest : public ::testing::TestWithParam<TiffCase> {};

TEST_P(NativeTiffTest, BecomesAPackedDibWithTheSamePixels) {
    const TiffCase& c = GetParam();
    const std::vector<unsigned char> bytes = MakeTiff(c);
    ASSERT_FALSE(bytes.empty());
    TW_IMAGEINFO info = Described(c.samples * c.bits);
    std::string why;
    HGLOBAL dib = Convert(bytes, &info, &why);
    ASSERT_NE(dib, nullptr) << why;
    EXPECT_EQ(info.BitsPerPixel, c.samples == 3 ? 24 : c.bits);
    CDIB image(nullptr, 8);
    ASSERT_TRUE(image.CreateFromHandle(dib, info.BitsPerPixel));
    GlobalFree(dib);
    ASSERT_EQ(image.m_pInfo->biWidth, LONG(kWidth));
    int wrong = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const COLORREF got = ColourAt(image, int(x), int(y));
            uint8_t r = Sample(x, y, 0), g = r, b = r;
            if (c.samples == 3) g = Sample(x, y, 1), b = Sample(x, y, 2);
            if (c.bits == 1) r = g = b = (r & 0x80) ? 255 : 0;
            wrong += got != RGB(r, g, b);
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NativeTiffTest,
    ::testing::Values(TiffCase{"RgbStripsLittleEndian", "w", 3, 8, COMPRESSION_NONE, false},
                      TiffCase{"GreyTilesBigEndianLzw", "wb", 1, 8, COMPRESSION_LZW, true},
                      TiffCase{"BilevelStripsPackBits", "w", 1, 1, COMPRESSION_PACKBITS, false}),
    [](const auto& info) { return std::string(info.param.name); });

const TiffCase kPlainRgb{"plain", "w", 3, 8, COMPRESSION_NONE, false};

TEST(NativeTiffRefusalTest, ACutTiffIsRefused) {
    std::vector<unsigned char> bytes = MakeTiff(kPlainRgb);
    ASSERT_GT(bytes.size(), 200u);
    // Half the strip and the directory after it are gone.
    bytes.resize(bytes.size() / 2);
    TW_IMAGEINFO info = Described(24);
    std::string why;
    EXPECT_EQ(Convert(bytes, &info, &why), nullptr);
    EXPECT_FALSE(why.empty());
}

TEST(NativeTiffRefusalTest, AStripPastTheEndIsRefused) {
    std::vector<unsigned char> bytes = MakeTiff(kPlainRgb);
    ASSERT_GT(bytes.size(), 200u);
    uint32_t directory;
    std::memcpy(&directory, &bytes[4], 4);
    uint16_t entries;
    std::memcpy(&entries, &bytes[directory], 2);
    bool patched = false;
    for (uint16_t i = 0; i < entries; ++i) {
        unsigned char* entry = &bytes[directory + 2 + 12 * i];
        uint16_t tag;
        std::memcpy(&tag, entry, 2);
        if (tag != TIFFTAG_STRIPOFFSETS) continue;
        const uint32_t pastTheEnd = static_cast<uint32_t>(bytes.size()) - 100;
        std::memcpy(entry + 8, &pastTheEnd, 4);
        patched = true;
    }
    ASSERT_TRUE(patched);
    TW_IMAGEINFO info = Described(24);
    std::string why;
    EXPECT_EQ(Convert(bytes, &info, &why), nullptr);
    EXPECT_FALSE(why.empty());
}

}  // namespace
