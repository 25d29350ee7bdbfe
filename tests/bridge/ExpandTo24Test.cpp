// Expansion of 1, 4 and 8-bit images to 24 bits through the colour table.
#include <gtest/gtest.h>

#include <vector>

#include "bridge/ImageHandoff.h"
#include "dib/Dib.h"
#include "tests/bridge/ChannelImages.h"

namespace velomark {
namespace {

// Loads a packed DIB into a CDIB and frees the block.
void Load(CDIB& dib, HGLOBAL h, int bits) {
    ASSERT_TRUE(dib.CreateFromHandle(h, bits));
    GlobalFree(h);
}

std::vector<BYTE> Pixel(const CDIB& dib, int x, int y) {
    const BYTE* p = dib.GetRowPtr(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

TEST(ExpandTo24Test, OneBitRunsFromTheHighBitAndStopsAtTheWidth) {
    CDIB source;
    // Pixels 0..9: 1 0 0 0 0 0 0 1 | 1 0, then set bits that lie past the width.
    Load(source,
         MakePackedDib(DibHeader(10, 1, 1),
                       {{0, 0, 0, 0}, {0x11, 0x22, 0x33, 0}}, {{0x81, 0xBF, 0xFF, 0xFF}}),
         1);
    CDIB target;
    ASSERT_TRUE(ExpandTo24(source, target));
    ASSERT_EQ(target.m_pInfo->biBitCount, 24);
    const std::vector<int> expected = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0};
    for (int x = 0; x < 10; ++x) {
        const std::vector<BYTE> one = {0x11, 0x22, 0x33}, zero = {0, 0, 0};
        EXPECT_EQ(Pixel(target, x, 0), expected[x] ? one : zero) << x;
    }
    // 30 pixel bytes in a 32-byte row: the padding is zero, not stale memory.
    EXPECT_EQ(target.m_nStride, 32);
    EXPECT_EQ(target.GetRowPtr(0)[30], 0);
    EXPECT_EQ(target.GetRowPtr(0)[31], 0);
}

TEST(ExpandTo24Test, FourBitTakesTheHighNibbleFirst) {
    std::vector<RGBQUAD> table(16);
    for (int i = 0; i < 16; ++i) table[i] = {BYTE(i), BYTE(i * 2), BYTE(i * 3), 0};
    CDIB source;
    Load(source, MakePackedDib(DibHeader(3, 1, 4), table, {{0x5A, 0xC0}}), 4);
    CDIB target;
    ASSERT_TRUE(ExpandTo24(source, target));
    EXPECT_EQ(Pixel(target, 0, 0), (std::vector<BYTE>{5, 10, 15}));
    EXPECT_EQ(Pixel(target, 1, 0), (std::vector<BYTE>{10, 20, 30}));
    EXPECT_EQ(Pixel(target, 2, 0), (std::vector<BYTE>{12, 24, 36}));
}

TEST(ExpandTo24Test, TableEntriesKeepTheirStoredBlueGreenRedOrder) {
    std::vector<RGBQUAD> table(256, RGBQUAD{0, 0, 0, 0});
    table[7] = {0x10, 0x20, 0x30, 0x40};
    CDIB source;
    Load(source, MakePackedDib(DibHeader(2, 2, 8), table, {{7, 0}, {0, 7}}), 8);
    CDIB target;
    ASSERT_TRUE(ExpandTo24(source, target));
    const std::vector<BYTE> entry = {0x10, 0x20, 0x30}, black = {0, 0, 0};
    EXPECT_EQ(Pixel(target, 0, 0), entry);
    EXPECT_EQ(Pixel(target, 1, 0), black);
    EXPECT_EQ(Pixel(target, 0, 1), black);  // rows keep their orientation
    EXPECT_EQ(Pixel(target, 1, 1), entry);
}

TEST(ExpandTo24Test, GreyTableGivesEqualChannelsAndTheHeaderIsFresh) {
    std::vector<RGBQUAD> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    BITMAPINFOHEADER header = DibHeader(256, 3, 8);
    header.biXPelsPerMeter = 3937;
    header.biSizeImage = 256 * 3;
    std::vector<BYTE> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = BYTE(i);
    CDIB source;
    Load(source, MakePackedDib(header, grey, {ramp, ramp, ramp}), 8);
    CDIB target;
    ASSERT_TRUE(ExpandTo24(source, target));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(Pixel(target, x, y), (std::vector<BYTE>{BYTE(x), BYTE(x), BYTE(x)}));
    EXPECT_EQ(target.m_pInfo->biXPelsPerMeter, 0);
    EXPECT_EQ(target.m_pInfo->biSizeImage, 0u);
    EXPECT_EQ(target.m_pInfo->biClrUsed, 0u);
}

TEST(ExpandTo24Test, OtherBitCountsAreRefusedAndLeaveTheTargetEmpty) {
    CDIB source;
    Load(source, MakePackedDib(DibHeader(2, 2, 24), {}, {{1, 2, 3, 4, 5, 6}}), 24);
    CDIB target;
    ASSERT_TRUE(target.Create(4, 4, 24));
    EXPECT_FALSE(ExpandTo24(source, target));
    EXPECT_EQ(target.m_pBlock, nullptr);
    CDIB empty;
    EXPECT_FALSE(ExpandTo24(empty, target));
}

}  // namespace
}  // namespace velomark
