// Expansion of 1, 4 and 8-bit images to 24 bits through the colour table, from a
// CDIB and from the packed DIB where it lies: both roads give the same bytes.
#include <gtest/gtest.h>

#include <vector>

#include <cstring>

#include "dib/Dib.h"
#include "dib/DibExpand.h"
#include "dib/PackedDib.h"
#include "tests/bridge/ChannelImages.h"

namespace velomark {
namespace {

// Expands the packed DIB in `h` both ways into `target` (the CDIB road) and checks
// that the road from the block itself gives the same image; frees the block.
bool Expand(HGLOBAL h, CDIB& target) {
    CDIB source;
    const bool loaded = source.CreateFromHandle(h, 8);
    const bool expanded = loaded && ExpandTo24(source, target);
    PackedDib packed;
    CDIB inPlace;
    const bool read = ReadPackedDib(static_cast<const BYTE*>(GlobalLock(h)), GlobalSize(h), &packed);
    const bool expandedInPlace = read && ExpandTo24(packed, inPlace);
    GlobalUnlock(h);
    GlobalFree(h);
    EXPECT_EQ(read, loaded);
    EXPECT_EQ(expandedInPlace, expanded);
    if (expanded && expandedInPlace) {
        EXPECT_EQ(inPlace.GetDIBSize(), target.GetDIBSize());
        EXPECT_EQ(std::memcmp(inPlace.m_pBlock, target.m_pBlock, size_t(target.GetDIBSize())), 0);
    }
    return expanded;
}

std::vector<BYTE> Pixel(const CDIB& dib, int x, int y) {
    const BYTE* p = dib.GetRowPtr(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

TEST(ExpandTo24Test, OneBitRunsFromTheHighBitAndStopsAtTheWidth) {
    // Pixels 0..9: 1 0 0 0 0 0 0 1 | 1 0, then set bits that lie past the width.
    CDIB target;
    ASSERT_TRUE(Expand(MakePackedDib(DibHeader(10, 1, 1), {{0, 0, 0, 0}, {0x11, 0x22, 0x33, 0}},
                                     {{0x81, 0xBF, 0xFF, 0xFF}}),
                       target));
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
    CDIB target;
    ASSERT_TRUE(Expand(MakePackedDib(DibHeader(3, 1, 4), table, {{0x5A, 0xC0}}), target));
    EXPECT_EQ(Pixel(target, 0, 0), (std::vector<BYTE>{5, 10, 15}));
    EXPECT_EQ(Pixel(target, 1, 0), (std::vector<BYTE>{10, 20, 30}));
    EXPECT_EQ(Pixel(target, 2, 0), (std::vector<BYTE>{12, 24, 36}));
}

TEST(ExpandTo24Test, TableEntriesKeepTheirStoredBlueGreenRedOrder) {
    std::vector<RGBQUAD> table(256, RGBQUAD{0, 0, 0, 0});
    table[7] = {0x10, 0x20, 0x30, 0x40};
    CDIB target;
    ASSERT_TRUE(Expand(MakePackedDib(DibHeader(2, 2, 8), table, {{7, 0}, {0, 7}}), target));
    const std::vector<BYTE> entry = {0x10, 0x20, 0x30}, black = {0, 0, 0};
    EXPECT_EQ(Pixel(target, 0, 0), entry);
    EXPECT_EQ(Pixel(target, 1, 0), black);
    EXPECT_EQ(Pixel(target, 0, 1), black);  // rows keep their orientation
    EXPECT_EQ(Pixel(target, 1, 1), entry);
    // The same stored rows read top row first, with a table of 8 entries only: the
    // picture turns over.
    BITMAPINFOHEADER shortTable = DibHeader(2, 2, 8);
    shortTable.biClrUsed = 8;
    table.resize(8);
    HGLOBAL topDown = MakePackedDib(shortTable, table, {{7, 0}, {0, 7}});
    static_cast<BITMAPINFOHEADER*>(GlobalLock(topDown))->biHeight = -2;
    GlobalUnlock(topDown);
    CDIB flipped;
    ASSERT_TRUE(Expand(topDown, flipped));
    EXPECT_EQ(Pixel(flipped, 1, 0), entry);
    EXPECT_EQ(Pixel(flipped, 0, 1), entry);
    EXPECT_EQ(Pixel(flipped, 0, 0), black);
}

TEST(ExpandTo24Test, GreyTableGivesEqualChannelsAndTheHeaderIsFresh) {
    std::vector<RGBQUAD> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    BITMAPINFOHEADER header = DibHeader(256, 3, 8);
    header.biXPelsPerMeter = 3937;
    header.biSizeImage = 256 * 3;
    std::vector<BYTE> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = BYTE(i);
    CDIB target;
    ASSERT_TRUE(Expand(MakePackedDib(header, grey, {ramp, ramp, ramp}), target));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(Pixel(target, x, y), (std::vector<BYTE>{BYTE(x), BYTE(x), BYTE(x)}));
    EXPECT_EQ(target.m_pInfo->biXPelsPerMeter, 0);
    EXPECT_EQ(target.m_pInfo->biSizeImage, 0u);
    EXPECT_EQ(target.m_pInfo->biClrUsed, 0u);
}

TEST(ExpandTo24Test, OtherBitCountsAreRefusedAndLeaveTheTargetEmpty) {
    CDIB target;
    ASSERT_TRUE(target.Create(4, 4, 24));
    EXPECT_FALSE(Expand(MakePackedDib(DibHeader(2, 2, 24), {}, {{1, 2, 3, 4, 5, 6}}), target));
    EXPECT_EQ(target.m_pBlock, nullptr);
    CDIB empty;
    EXPECT_FALSE(ExpandTo24(empty, target));
}

}  // namespace
}  // namespace velomark
