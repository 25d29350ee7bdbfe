// CDIB storage: size rules, packing, reading packed DIBs and copying images.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dib/Dib.h"
#include "tests/dib/DibTestSupport.h"

namespace {

using namespace dibtest;

// Every test must give back each global block it received.
class DibCore : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(GlobalLiveBlockCount(), m_liveBlocks); }
    size_t m_liveBlocks = GlobalLiveBlockCount();
};

// A colour table and every stored byte, padding included, set to a pattern.
void Paint(CDIB& dib, int seed = 0) {
    for (int i = 0; i < dib.GetColorCount(); ++i) {
        dib.m_pColors[i] = {BYTE(i + seed), BYTE(3 * i), BYTE(255 - i), 0};
    }
    const size_t n = size_t(dib.m_nStride) * dib.m_nHeight;
    for (size_t i = 0; i < n; ++i) dib.m_pBits[i] = BYTE(i * 37 + seed + 1);
}

// The bytes of a global block, which is freed.
Bytes Take(HGLOBAL h) {
    Bytes out;
    if (!h) return out;
    const auto* p = static_cast<const BYTE*>(GlobalLock(h));
    out.assign(p, p + GlobalSize(h));
    GlobalUnlock(h);
    GlobalFree(h);
    return out;
}

BITMAPINFOHEADER Header(int width, int height, int bits, DWORD clrUsed = 0) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bits);
    h.biClrUsed = clrUsed;
    return h;
}

// A packed DIB laid out by hand: the header padded with zeros to headerSize (also
// written into biSize), then the table entries, then the row bytes.
Bytes Packed(BITMAPINFOHEADER h, DWORD headerSize, const std::vector<RGBQUAD>& table,
             const Bytes& rows) {
    h.biSize = headerSize;
    Bytes out(std::max<size_t>(headerSize, 40), 0);
    std::memcpy(out.data(), &h, 40);
    out.resize(headerSize);
    for (const RGBQUAD& q : table) out.insert(out.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed, 0});
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

// CreateFromHandle on a copy of `bytes`; also checks that the block is left unlocked.
BOOL Load(CDIB& dib, const Bytes& bytes) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!bytes.empty()) std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    const BOOL ok = dib.CreateFromHandle(h, 8);
    GlobalLock(h);
    EXPECT_FALSE(GlobalUnlock(h)) << "CreateFromHandle left the block locked";
    GlobalFree(h);
    return ok;
}

TEST_F(DibCore, StrideSizeAndRowTable) {
    struct Case {
        int w, h, bits, stride, colors, size;
    };
    const Case cases[] = {
        {3, 2, 24, 12, 0, 64}, {2, 2, 8, 4, 256, 1072}, {5, 3, 8, 8, 256, 1088},
        {33, 2, 1, 8, 2, 64},  {3, 2, 4, 4, 16, 112},   {4, 4, 16, 8, 0, 72},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bits);
        CDIB dib;
        ASSERT_TRUE(dib.Create(c.w, c.h, c.bits));
        EXPECT_EQ(dib.m_nStride, c.stride);
        EXPECT_EQ(dib.GetColorCount(), c.colors);
        EXPECT_EQ(dib.GetDIBSize(), c.size);
        EXPECT_EQ(static_cast<void*>(dib.m_pInfo), dib.m_pBlock);
        EXPECT_EQ(static_cast<BYTE*>(dib.m_pBlock) + 40 + 4 * c.colors, dib.m_pBits);
        EXPECT_EQ(dib.GetRowPtr(0), dib.m_pBits + (c.h - 1) * c.stride);
        EXPECT_EQ(dib.GetRowPtr(c.h - 1), dib.m_pBits);
        Paint(dib);
        EXPECT_EQ(Take(dib.PackToGlobal()).size(), size_t(c.size));
    }
}

TEST_F(DibCore, ClrUsedDoesNotShortenTheTable) {
    CDIB dib;
    const BITMAPINFOHEADER h = Header(5, 4, 8, 3);
    ASSERT_TRUE(dib.CreateFromHeader(&h));
    EXPECT_EQ(dib.GetDIBSize(), 1064 + 8 * 4);
    EXPECT_EQ(dib.m_pInfo->biClrUsed, 3u);
}

TEST_F(DibCore, PackedLayoutOfSmallPaletteImage) {
    CDIB dib;
    ASSERT_TRUE(dib.Create(2, 2, 8));
    Paint(dib);
    const Bytes top{11, 12}, bottom{21, 22};
    std::memcpy(dib.GetRowPtr(0), top.data(), 2);
    std::memcpy(dib.GetRowPtr(1), bottom.data(), 2);
    const Bytes packed = Take(dib.PackToGlobal());
    ASSERT_EQ(packed.size(), 1072u);
    EXPECT_EQ(std::memcmp(packed.data(), dib.m_pInfo, 40), 0);
    EXPECT_EQ(std::memcmp(packed.data() + 40, dib.m_pColors, 1024), 0);
    EXPECT_EQ(Bytes(packed.begin() + 1064, packed.begin() + 1066), bottom);
    EXPECT_EQ(Bytes(packed.begin() + 1068, packed.begin() + 1070), top);
}

TEST_F(DibCore, CreateRefusesNegativeAndOversizedImages) {
    const int sizes[][3] = {{-1, 2, 8}, {2, -1, 8},          {70000, 70000, 24},
                            {2, 2, -8}, {0x7FFFFFFF, 1, 24}, {65536, 32768, 8}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << "x" << s[2]);
        CDIB dib;
        ASSERT_TRUE(dib.Create(3, 3, 8));
        EXPECT_FALSE(dib.Create(s[0], s[1], s[2]));
        EXPECT_EQ(dib.m_pBlock, nullptr);
        if (s[2] < 0) continue;  // a header's bit count cannot be negative
        ASSERT_TRUE(dib.Create(3, 3, 8));
        const BITMAPINFOHEADER h = Header(s[0], s[1], s[2]);
        EXPECT_FALSE(dib.CreateFromHeader(&h));
        EXPECT_EQ(dib.m_pBlock, nullptr);
    }
}

TEST_F(DibCore, PackAndReadBackIsByteExact) {
    for (int bits : {1, 4, 8, 24}) {
        for (int width : {1, 3, 5, 9, 33}) {
            SCOPED_TRACE(testing::Message() << width << " wide at " << bits << " bits");
            CDIB source;
            ASSERT_TRUE(source.Create(width, 3, bits));
            Paint(source, width);
            source.m_pInfo->biXPelsPerMeter = 2835;
            source.m_pInfo->biYPelsPerMeter = 3937;
            const Bytes packed = Take(source.PackToGlobal());
            CDIB copy;
            ASSERT_TRUE(Load(copy, packed));
            EXPECT_EQ(copy.m_nWidth, width);
            EXPECT_EQ(copy.m_nHeight, 3);
            EXPECT_EQ(Take(copy.PackToGlobal()), packed);
        }
    }
}

TEST_F(DibCore, ReadingRefusesWhatCannotBeHeld) {
    const Bytes rows(8, 0x44);
    const std::vector<RGBQUAD> full(256);
    BITMAPINFOHEADER rle = Header(3, 2, 8);
    rle.biCompression = BI_RLE8;
    const Bytes whole = Packed(Header(3, 2, 8), 40, full, rows);
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"16 bits", Packed(Header(2, 2, 16), 40, {}, Bytes(8))},
        {"32 bits", Packed(Header(2, 2, 32), 40, {}, Bytes(16))},
        {"2 bits", Packed(Header(3, 2, 2), 40, std::vector<RGBQUAD>(4), rows)},
        {"run-length", Packed(rle, 40, full, rows)},
        {"12-byte header", Packed(Header(3, 2, 8), 12, full, rows)},
        {"41-byte header", Packed(Header(3, 2, 8), 41, full, rows)},
        {"64-byte header", Packed(Header(3, 2, 8), 64, full, rows)},
        {"width 0", Packed(Header(0, 2, 8), 40, full, rows)},
        {"negative width", Packed(Header(-3, 2, 8), 40, full, rows)},
        {"height 0", Packed(Header(3, 0, 8), 40, full, rows)},
        {"one row byte short", Bytes(whole.begin(), whole.end() - 1)},
        {"24 bits one byte short", Packed(Header(3, 2, 24), 40, {}, Bytes(23))},
        {"header cut short", Bytes(whole.begin(), whole.begin() + 39)},
        {"empty block", Bytes()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CDIB dib;
        ASSERT_TRUE(dib.Create(4, 4, 8));
        EXPECT_FALSE(Load(dib, c.bytes));
        EXPECT_EQ(dib.m_pBlock, nullptr);
    }
    CDIB dib;
    EXPECT_FALSE(dib.CreateFromHandle(nullptr, 8));
    EXPECT_TRUE(Load(dib, whole));  // the block the short ones were cut from is fine
}

TEST_F(DibCore, LongerHeadersAreHeldAsFortyBytes) {
    std::vector<RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i) table[i] = {BYTE(i), BYTE(i ^ 0xFF), BYTE(i / 2), 0};
    const Bytes rows{1, 2, 0, 0, 3, 4, 0, 0};
    CDIB reference;
    ASSERT_TRUE(Load(reference, Packed(Header(2, 2, 8), 40, table, rows)));
    const Bytes expected = Take(reference.PackToGlobal());
    for (DWORD size : {52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        CDIB dib;
        ASSERT_TRUE(Load(dib, Packed(Header(2, 2, 8), size, table, rows)));
        EXPECT_EQ(dib.m_pInfo->biSize, 40u);
        EXPECT_EQ(dib.GetPaletteColor(1), RGB(0, 0xFE, 1));
        EXPECT_EQ(Take(dib.PackToGlobal()), expected);
    }
}

TEST_F(DibCore, HeaderOfAnotherVersionIsHeldAsFortyBytes) {
    // The block only has room for 40 header bytes, so it must not claim more.
    BITMAPINFOHEADER h = Header(2, 1, 1);
    h.biSize = 124;
    CDIB dib;
    ASSERT_TRUE(dib.CreateFromHeader(&h));
    EXPECT_EQ(dib.m_pInfo->biSize, 40u);
    dib.m_pColors[0] = {1, 2, 3, 0};
    dib.m_pColors[1] = {4, 5, 6, 0};
    dib.GetRowPtr(0)[0] = 0x40;
    CDIB copy;
    HGLOBAL packed = dib.PackToGlobal();
    const BOOL read = copy.CreateFromHandle(packed, 8);
    GlobalFree(packed);
    ASSERT_TRUE(read);
    EXPECT_EQ(copy.GetPaletteColor(1), RGB(6, 5, 4));
}

TEST_F(DibCore, TopDownRowsAreHeldBottomUp) {
    // Stored top row first: {1 2 3}, then {4 5 6}.
    const Bytes rows{1, 2, 3, 0, 4, 5, 6, 0};
    CDIB dib;
    ASSERT_TRUE(Load(dib, Packed(Header(3, -2, 8), 40, std::vector<RGBQUAD>(256), rows)));
    EXPECT_EQ(dib.m_nHeight, 2);
    EXPECT_EQ(dib.m_pInfo->biHeight, 2);
    EXPECT_EQ(Row(dib, 0, 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(Row(dib, 1, 3), (Bytes{4, 5, 6}));
    EXPECT_EQ(Bytes(dib.m_pBits, dib.m_pBits + 3), (Bytes{4, 5, 6}));
}

TEST_F(DibCore, ShortColourTableIsCompletedWithBlack) {
    const std::vector<RGBQUAD> two{{10, 20, 30, 0}, {40, 50, 60, 0}};
    const Bytes rows{1, 0, 0, 0};
    for (int bits : {4, 8}) {
        SCOPED_TRACE(bits);
        CDIB dib;
        ASSERT_TRUE(Load(dib, Packed(Header(1, 1, bits, 2), 40, two, rows)));
        EXPECT_EQ(dib.GetPaletteColor(0), RGB(30, 20, 10));
        EXPECT_EQ(dib.GetPaletteColor(1), RGB(60, 50, 40));
        for (int i = 2; i < dib.GetColorCount(); ++i) EXPECT_EQ(dib.GetPaletteColor(i), 0u) << i;
        EXPECT_EQ(dib.GetRowPtr(0)[0], 1);  // rows follow the two entries
        // A block too short even for the entries it names is refused.
        Bytes cut = Packed(Header(1, 1, bits, 3), 40, two, rows);
        EXPECT_FALSE(Load(dib, cut));
    }
}

TEST_F(DibCore, OptionalTableOfTrueColourImageIsSkipped) {
    const Bytes pixel{10, 20, 30, 0};
    CDIB dib;
    ASSERT_TRUE(Load(dib, Packed(Header(1, 1, 24, 2), 40, {{1, 1, 1, 0}, {2, 2, 2, 0}}, pixel)));
    EXPECT_EQ(dib.GetPixelRGB(0, 0), RGB(30, 20, 10));
    EXPECT_EQ(dib.GetDIBSize(), 44);
    // The table is not held, so the held header must not announce one: a reader of
    // the packed copy would look for the rows behind it.
    EXPECT_EQ(dib.m_pInfo->biClrUsed, 0u);
    EXPECT_EQ(Take(dib.PackToGlobal()).size(), 44u);
    // Without the table in the block the rows follow the header.
    ASSERT_TRUE(Load(dib, Packed(Header(1, 1, 24, 2), 40, {}, pixel)));
    EXPECT_EQ(dib.GetPixelRGB(0, 0), RGB(30, 20, 10));
    EXPECT_EQ(dib.m_pInfo->biClrUsed, 0u);
}

TEST_F(DibCore, ColourCountBeyondTheTableIsNotHeld) {
    CDIB dib;
    std::vector<RGBQUAD> table(16, RGBQUAD{9, 9, 9, 0});
    ASSERT_TRUE(Load(dib, Packed(Header(2, 1, 4, 300), 40, table, Bytes{0x12, 0, 0, 0})));
    EXPECT_EQ(dib.m_pInfo->biClrUsed, 0u);
    // A count within the table is carried as given.
    ASSERT_TRUE(Load(dib, Packed(Header(2, 1, 4, 5), 40, table, Bytes{0x12, 0, 0, 0})));
    EXPECT_EQ(dib.m_pInfo->biClrUsed, 5u);
}

TEST_F(DibCore, CopyFromAndAssign) {
    CDIB source;
    ASSERT_TRUE(source.Create(3, 2, 8));
    Paint(source, 5);
    const Bytes packed = Take(source.PackToGlobal());

    EXPECT_TRUE(source.CopyFrom(source));
    source.Assign(source);
    EXPECT_EQ(Take(source.PackToGlobal()), packed);

    CDIB target;
    ASSERT_TRUE(target.Create(7, 9, 24));
    target.Assign(source);
    EXPECT_EQ(target.m_nWidth, 3);
    EXPECT_EQ(target.m_nHeight, 2);
    EXPECT_EQ(target.m_nStride, 4);
    EXPECT_EQ(Take(target.PackToGlobal()), packed);
    EXPECT_EQ(Row(target, 0, 3), Row(source, 0, 3));

    CDIB empty;
    EXPECT_FALSE(target.CopyFrom(empty));
    EXPECT_EQ(target.m_pBlock, nullptr);
    ASSERT_TRUE(target.CopyFrom(source));
    target.Assign(empty);
    EXPECT_EQ(target.m_pBlock, nullptr);
}

TEST_F(DibCore, CopyToHandle) {
    CDIB dib;
    ASSERT_TRUE(dib.Create(5, 3, 8));
    Paint(dib, 9);
    dib.m_pInfo->biSizeImage = 99;
    dib.m_pInfo->biXPelsPerMeter = 2835;
    dib.m_pInfo->biYPelsPerMeter = 2835;
    dib.m_pInfo->biClrUsed = 7;
    const Bytes packed = Take(dib.PackToGlobal());
    EXPECT_EQ(Take(dib.CopyToHandle(0, -1, -1, -1)), packed);
    EXPECT_EQ(Take(dib.CopyToHandle(2, 0, 0, 0)), packed);

    const Bytes repacked = Take(dib.CopyToHandle(-1, -1, -1, -1));
    ASSERT_EQ(repacked.size(), packed.size());
    BITMAPINFOHEADER h;
    std::memcpy(&h, repacked.data(), 40);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biSizeImage, 0u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biYPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(std::memcmp(repacked.data() + 40, packed.data() + 40, 1024), 0);
    for (int row = 0; row < 3; ++row) {
        const size_t at = 1064 + 8 * row;
        EXPECT_EQ(std::memcmp(repacked.data() + at, packed.data() + at, 5), 0) << row;
        // The block leaves the process: its padding must not be stale heap bytes.
        EXPECT_EQ(Bytes(repacked.begin() + at + 5, repacked.begin() + at + 8), Bytes(3, 0));
    }

    for (int bits : {1, 4, 24}) {
        CDIB other;
        ASSERT_TRUE(other.Create(5, 3, bits));
        Paint(other);
        EXPECT_EQ(other.CopyToHandle(-1, -1, -1, -1), nullptr) << bits;
    }
    CDIB empty;
    EXPECT_EQ(empty.CopyToHandle(-1, -1, -1, -1), nullptr);
    EXPECT_EQ(empty.CopyToHandle(0, -1, -1, -1), nullptr);
    EXPECT_EQ(empty.GetDIBSize(), 0);
}

}  // namespace
