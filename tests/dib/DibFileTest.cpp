// BMP files that CDIB writes, reading them back, and the other file layouts the reader
// takes: gaps, short tables, top-down rows, longer and OS/2 headers, colour masks.
#include <tuple>

#include "tests/dib/BmpTestSupport.h"

namespace {

using namespace bmptest;

class DibRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(DibRoundTrip, FileIsHeaderPlusBlockAndReadsBackIdentical) {
    const Shape s = GetParam();
    TempDir dir;
    const std::string path = dir.File("image.bmp");
    CDIB dib;
    MakePattern(dib, s.width, s.height, s.bits, 7u * s.width + s.bits);
    ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));

    const size_t n = TableEntriesOf(s.bits);
    const size_t dibSize = 40 + 4 * n + DibRowSize(s.width, s.bits) * s.height;
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 14 + dibSize);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(file, 2), 14 + dibSize);
    EXPECT_EQ(Le32(file, 6), 0u);  // both reserved words
    EXPECT_EQ(Le32(file, 10), 54 + 4 * n);
    EXPECT_EQ(0, std::memcmp(file.data() + 14, dib.m_pBlock, dibSize));

    CDIB back;
    MakePattern(back, 4, 4, 24, 99);  // an image to be replaced
    ASSERT_TRUE(back.ReadBmp(path.c_str()));
    EXPECT_TRUE(SameImage(back, dib));
}

INSTANTIATE_TEST_SUITE_P(Depths, DibRoundTrip,
                         ::testing::Values(Shape{1, 1, 1}, Shape{1, 7, 3}, Shape{1, 33, 5},
                                           Shape{1, 127, 4}, Shape{4, 1, 2}, Shape{4, 3, 3},
                                           Shape{4, 13, 5}, Shape{8, 1, 1}, Shape{8, 5, 4},
                                           Shape{8, 101, 3}, Shape{16, 3, 3}, Shape{24, 1, 1},
                                           Shape{24, 3, 2}, Shape{24, 37, 23}, Shape{32, 5, 3}),
                         [](const auto& info) {
                             return std::to_string(info.param.bits) + "bit_" +
                                    std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(DibWriteBmp, FileHeaderSizesOfKnownImages) {
    TempDir dir;
    const std::string path = dir.File("a.bmp");
    for (const auto& [w, h, bits, size, off] :
         {std::tuple{100, 50, 8, 6078u, 1078u}, std::tuple{3, 2, 24, 78u, 54u}}) {
        CDIB dib;
        MakePattern(dib, w, h, bits, 3);
        ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
        const Bytes file = ReadFile(path);
        EXPECT_EQ(file.size(), size);
        EXPECT_EQ(Le32(file, 2), size);
        EXPECT_EQ(Le32(file, 10), off);
    }
}

TEST(DibWriteBmp, SixteenColoursUsedStillWritesTheWholeTable) {
    TempDir dir;
    const std::string path = dir.File("a.bmp");
    CDIB dib;
    MakePattern(dib, 9, 4, 8, 5);
    dib.m_pInfo->biClrUsed = 16;
    ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
    const Bytes file = ReadFile(path);
    EXPECT_EQ(Le32(file, 10), 1078u);
    EXPECT_EQ(file.size(), 1078u + 12 * 4);
    CDIB back;
    ASSERT_TRUE(back.ReadBmp(path.c_str()));
    EXPECT_EQ(back.m_pInfo->biClrUsed, 16u);
    EXPECT_TRUE(SameImage(back, dib));
}

TEST(DibWriteBmp, OverwritesFromFirstByteAndKeepsTheRest) {
    TempDir dir;
    const std::string path = dir.File("long.bmp");
    const Bytes old(5000, 0xA5);
    WriteFile(path, old);
    CDIB dib;
    MakePattern(dib, 6, 5, 24, 11);
    ASSERT_TRUE(dib.WriteBmp(path.c_str()));
    const Bytes file = ReadFile(path);
    const size_t written = 14 + size_t(dib.GetDIBSize());
    ASSERT_EQ(file.size(), old.size());
    EXPECT_EQ(0, std::memcmp(file.data() + 14, dib.m_pBlock, written - 14));
    EXPECT_TRUE(std::equal(file.begin() + written, file.end(), old.begin() + written));
}

TEST(DibWriteBmp, RefusesWithoutCreatingAFile) {
    TempDir dir;
    const std::string path = dir.File("absent.bmp");
    CDIB dib;
    MakePattern(dib, 3, 3, 8, 1);
    EXPECT_FALSE(dib.WriteBmp(path.c_str()));
    EXPECT_FALSE(Exists(path));
}

TEST(DibWriteBmp, EmptyImageLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.File("keep.bmp");
    const Bytes old(100, 0x5A);
    WriteFile(path, old);
    const CDIB empty;
    EXPECT_FALSE(empty.WriteBmp(path.c_str()));
    EXPECT_EQ(ReadFile(path), old);
}

TEST(DibSaveBmp, EmptiesALongerFileFirst) {
    TempDir dir;
    const std::string path = dir.File("long.bmp");
    WriteFile(path, Bytes(50000, 0xA5));
    CDIB dib;
    MakePattern(dib, 10, 10, 4, 2);
    ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
    const Bytes file = ReadFile(path);
    EXPECT_EQ(file.size(), 14u + 40 + 64 + 8 * 10);
    EXPECT_EQ(Le32(file, 2), file.size());
}

TEST(DibSaveBmp, NonZeroFlagWritesNothing) {
    TempDir dir;
    const std::string existing = dir.File("keep.bmp"), absent = dir.File("absent.bmp");
    const Bytes old(300, 0x33);
    WriteFile(existing, old);
    CDIB dib;
    MakePattern(dib, 3, 3, 8, 1);
    EXPECT_FALSE(dib.SaveBmp(existing.c_str(), TRUE));
    EXPECT_FALSE(dib.SaveBmp(absent.c_str(), 2));
    EXPECT_EQ(ReadFile(existing), old);
    EXPECT_FALSE(Exists(absent));
}

TEST(DibSaveBmp, EmptyImageLeavesAnEmptyFile) {
    TempDir dir;
    const std::string path = dir.File("empty.bmp");
    WriteFile(path, Bytes(64, 1));
    CDIB empty;
    EXPECT_FALSE(empty.SaveBmp(path.c_str(), FALSE));
    EXPECT_TRUE(Exists(path));
    EXPECT_TRUE(ReadFile(path).empty());
}

TEST(DibLoadBmp, MissingFileKeepsTheImage) {
    TempDir dir;
    CDIB dib;
    MakePattern(dib, 5, 2, 8, 4);
    const DibState before = Capture(dib);
    EXPECT_FALSE(dib.LoadBmp(dir.File("absent.bmp").c_str()));
    EXPECT_EQ(Capture(dib), before);
}

TEST(DibLoadBmp, ReadsWhatWasSaved) {
    TempDir dir;
    const std::string path = dir.File("a.bmp");
    CDIB dib, back;
    MakePattern(dib, 21, 8, 4, 6);
    ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
    ASSERT_TRUE(back.LoadBmp(path.c_str()));
    EXPECT_TRUE(SameImage(back, dib));
}

// --- Layouts written by other programs -------------------------------------------

// Reads `built` into a fresh image and checks the held header against the recipe.
void ReadBuilt(const BmpRecipe& r, const BuiltBmp& built, CDIB& dib) {
    TempDir dir;
    const std::string path = dir.File("in.bmp");
    WriteFile(path, built.file);
    ASSERT_TRUE(dib.ReadBmp(path.c_str()));
    const BITMAPINFOHEADER& h = *dib.m_pInfo;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, r.width);
    EXPECT_EQ(h.biHeight, built.rows);
    EXPECT_EQ(dib.m_nHeight, built.rows);
    EXPECT_EQ(h.biBitCount, r.bits);
    EXPECT_EQ(h.biCompression, BI_RGB);
    const bool full = r.headerSize >= 40;
    EXPECT_EQ(h.biXPelsPerMeter, full ? 2835 : 0);
    EXPECT_EQ(h.biYPelsPerMeter, full ? 2834 : 0);
    EXPECT_EQ(h.biClrUsed, full ? r.clrUsed : 0u);
    EXPECT_EQ(h.biClrImportant, full ? 7u : 0u);
}

Bytes HeldRows(const CDIB& dib) {
    return Bytes(dib.m_pBits, dib.m_pBits + size_t(dib.m_nStride) * dib.m_nHeight);
}

// The table as held, when the file stores `entries` entries of `entryBytes` each.
void ExpectTable(const CDIB& dib, const BuiltBmp& built, int entries, int entryBytes) {
    for (int i = 0; i < entries; ++i) {
        const BYTE* e = built.file.data() + built.tableAt + size_t(i) * entryBytes;
        const RGBQUAD& c = dib.m_pColors[i];
        EXPECT_EQ(c.rgbBlue, e[0]) << "entry " << i;
        EXPECT_EQ(c.rgbGreen, e[1]) << "entry " << i;
        EXPECT_EQ(c.rgbRed, e[2]) << "entry " << i;
        EXPECT_EQ(c.rgbReserved, entryBytes == 4 ? e[3] : 0) << "entry " << i;
    }
}

TEST(DibReadLayouts, GapAfterTheTableIsSkipped) {
    BmpRecipe r;
    r.width = 7, r.height = 5, r.gap = 37;
    const BuiltBmp built = BuildBmp(r);
    CDIB dib;
    ASSERT_NO_FATAL_FAILURE(ReadBuilt(r, built, dib));
    ExpectTable(dib, built, 256, 4);
    EXPECT_EQ(HeldRows(dib), built.RowsBottomUp());
}

TEST(DibReadLayouts, ShortTableTakesInTheBytesThatFollow) {
    // Fewer entries stored than held: the rest come from the bytes behind them, and are
    // black where the file ends first (2 entries + 8 row bytes give 4 entries).
    for (const auto& [w, h, used, fromFile] :
         {std::tuple{40, 30, 16u, 256}, std::tuple{4, 2, 2u, 4}}) {
        SCOPED_TRACE(used);
        BmpRecipe r;
        r.width = w, r.height = h, r.clrUsed = used, r.tableEntries = int(used);
        const BuiltBmp built = BuildBmp(r);
        CDIB dib;
        ASSERT_NO_FATAL_FAILURE(ReadBuilt(r, built, dib));
        ExpectTable(dib, built, fromFile, 4);
        for (int i = fromFile; i < 256; ++i) {
            const RGBQUAD& c = dib.m_pColors[i];
            EXPECT_EQ(c.rgbRed | c.rgbGreen | c.rgbBlue | c.rgbReserved, 0) << "entry " << i;
        }
        EXPECT_EQ(HeldRows(dib), built.RowsBottomUp());
    }
}

// Header size and bit count of files with a colour table, top-down or not.
class DibReadHeaders : public ::testing::TestWithParam<std::tuple<uint32_t, int, bool>> {};

TEST_P(DibReadHeaders, TableFollowsTheHeaderAndRowsAreHeldBottomUp) {
    const auto [headerSize, bits, topDown] = GetParam();
    BmpRecipe r;
    r.headerSize = headerSize, r.bits = uint16_t(bits), r.width = 13, r.height = 6;
    if (topDown) r.height = -r.height;
    if (headerSize >= 40) r.clrUsed = uint32_t(TableEntriesOf(bits));
    r.seed = headerSize * 100 + bits;
    const BuiltBmp built = BuildBmp(r);
    CDIB dib;
    ASSERT_NO_FATAL_FAILURE(ReadBuilt(r, built, dib));
    ExpectTable(dib, built, TableEntriesOf(bits), headerSize == 12 ? 3 : 4);
    EXPECT_EQ(HeldRows(dib), built.RowsBottomUp());
}

// Every known header size with every table depth and 24 bits, top-down where the header
// can say so (the OS/2 core header has unsigned sizes).
std::vector<std::tuple<uint32_t, int, bool>> HeaderCases() {
    std::vector<std::tuple<uint32_t, int, bool>> cases;
    for (uint32_t size : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        for (int bits : {1, 4, 8, 24}) {
            cases.emplace_back(size, bits, false);
            if (size != 12) cases.emplace_back(size, bits, true);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, DibReadHeaders, ::testing::ValuesIn(HeaderCases()),
                         [](const auto& info) {
                             return "h" + std::to_string(std::get<0>(info.param)) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "bit" +
                                    (std::get<2>(info.param) ? "_topdown" : "");
                         });

TEST(DibReadLayouts, SixteenBitFiveFiveFiveMasksAreHeldAsPlainRows) {
    for (const uint32_t headerSize : {40u, 56u, 124u}) {
        SCOPED_TRACE(headerSize);
        BmpRecipe r;
        r.headerSize = headerSize, r.bits = 16, r.width = 9, r.height = 4;
        r.compression = BI_BITFIELDS;
        r.masks[0] = 0x7C00, r.masks[1] = 0x03E0, r.masks[2] = 0x001F;
        r.masksAfterHeader = headerSize == 40;
        const BuiltBmp built = BuildBmp(r);
        CDIB dib;
        ASSERT_NO_FATAL_FAILURE(ReadBuilt(r, built, dib));
        EXPECT_EQ(HeldRows(dib), built.RowsBottomUp());
    }
}

// 32-bit rows with each channel in a whole byte: byte positions of red, green, blue.
class DibReadByteMasks
    : public ::testing::TestWithParam<std::tuple<std::tuple<int, int, int>, uint32_t, bool>> {};

TEST_P(DibReadByteMasks, RearrangedToBlueGreenRedZero) {
    const auto [positions, headerSize, topDown] = GetParam();
    const auto [red, green, blue] = positions;
    BmpRecipe r;
    r.headerSize = headerSize, r.bits = 32, r.width = 7, r.height = topDown ? -3 : 3;
    r.compression = BI_BITFIELDS;
    r.masks[0] = 0xFFu << 8 * red, r.masks[1] = 0xFFu << 8 * green, r.masks[2] = 0xFFu << 8 * blue;
    r.masksAfterHeader = headerSize == 40;
    const BuiltBmp built = BuildBmp(r);
    CDIB dib;
    ASSERT_NO_FATAL_FAILURE(ReadBuilt(r, built, dib));
    for (int y = 0; y < built.rows; ++y) {
        const BYTE* in = built.PictureRow(y);
        const BYTE* held = dib.m_pBits + size_t(built.rows - 1 - y) * dib.m_nStride;
        for (int x = 0; x < r.width; ++x, in += 4, held += 4) {
            ASSERT_EQ(held[0], in[blue]) << x << "," << y;
            ASSERT_EQ(held[1], in[green]) << x << "," << y;
            ASSERT_EQ(held[2], in[red]) << x << "," << y;
            ASSERT_EQ(held[3], 0) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Orders, DibReadByteMasks,
    ::testing::Combine(::testing::Values(std::tuple{2, 1, 0}, std::tuple{0, 1, 2},
                                         std::tuple{3, 2, 1}, std::tuple{1, 2, 3},
                                         std::tuple{3, 0, 2}),
                       ::testing::Values(40u, 52u, 124u), ::testing::Bool()));

}  // namespace
