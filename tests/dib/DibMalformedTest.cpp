// Broken BMP files and packed DIBs: cut short at every length, impossible sizes, rows
// or tables that are not there, layouts the image cannot hold. Each must be refused,
// and a refused file must leave the image exactly as it was.
#include <fcntl.h>

#include <climits>
#include <functional>

#include "tests/dib/BmpTestSupport.h"

namespace {

using namespace bmptest;

class DibRefusal : public ::testing::Test {
protected:
    // Reads `file` into an image holding a picture and into an empty one: both must
    // refuse it and keep every pointer, size and byte they had.
    void ExpectRefused(const Bytes& file) {
        WriteFile(m_path, file);
        CDIB holding, empty;
        MakePattern(holding, 6, 3, 8, 21);
        const DibState before = Capture(holding), emptyBefore = Capture(empty);
        EXPECT_FALSE(holding.ReadBmp(m_path.c_str()));
        EXPECT_EQ(Capture(holding), before);
        EXPECT_FALSE(empty.ReadBmp(m_path.c_str()));
        EXPECT_EQ(Capture(empty), emptyBefore);
    }
    bool Taken(const Bytes& file) {
        WriteFile(m_path, file);
        CDIB dib;
        return dib.ReadBmp(m_path.c_str());
    }

    TempDir m_dir;
    const std::string m_path = m_dir.File("in.bmp");
};

// --- Every prefix of a good file ------------------------------------------------

struct GoodFile {
    const char* name;
    std::function<Bytes(const TempDir&)> make;
};

void PrintTo(const GoodFile& f, std::ostream* os) { *os << f.name; }

Bytes Saved(const TempDir& dir, int w, int h, int bits) {
    CDIB dib;
    MakePattern(dib, w, h, bits, uint32_t(w * h + bits));
    const std::string path = dir.File("saved.bmp");
    EXPECT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
    return ReadFile(path);
}

Bytes Built(BmpRecipe r) { return BuildBmp(r).file; }

BmpRecipe Recipe(uint32_t headerSize, int w, int h, int bits) {
    BmpRecipe r;
    r.headerSize = headerSize, r.width = w, r.height = h, r.bits = uint16_t(bits);
    return r;
}

BmpRecipe WithMasks(BmpRecipe r, uint32_t red, uint32_t green, uint32_t blue) {
    r.compression = BI_BITFIELDS;
    r.masks[0] = red, r.masks[1] = green, r.masks[2] = blue;
    r.masksAfterHeader = r.headerSize == 40;
    return r;
}

class DibPrefix : public DibRefusal, public ::testing::WithParamInterface<GoodFile> {};

TEST_P(DibPrefix, EveryShorterPrefixIsRefused) {
    const Bytes whole = GetParam().make(m_dir);
    ASSERT_TRUE(Taken(whole));
    for (size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        ExpectRefused(Bytes(whole.begin(), whole.begin() + length));
        if (HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, DibPrefix,
    ::testing::Values(
        GoodFile{"Saved1", [](const TempDir& d) { return Saved(d, 9, 3, 1); }},
        GoodFile{"Saved4", [](const TempDir& d) { return Saved(d, 5, 2, 4); }},
        GoodFile{"Saved8", [](const TempDir& d) { return Saved(d, 5, 3, 8); }},
        GoodFile{"Saved24", [](const TempDir& d) { return Saved(d, 3, 2, 24); }},
        GoodFile{"Saved32", [](const TempDir& d) { return Saved(d, 2, 2, 32); }},
        GoodFile{"Header124TopDown4", [](const TempDir&) { return Built(Recipe(124, 7, -3, 4)); }},
        GoodFile{"Os2Core8", [](const TempDir&) { return Built(Recipe(12, 5, 2, 8)); }},
        GoodFile{"Masks32",
                 [](const TempDir&) {
                     return Built(WithMasks(Recipe(40, 3, 2, 32), 0xFF, 0xFF00, 0xFF0000));
                 }},
        GoodFile{"ShortTable8",
                 [](const TempDir&) {
                     BmpRecipe r = Recipe(40, 4, 3, 8);
                     r.clrUsed = 16, r.tableEntries = 16;
                     return Built(r);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Single faults in otherwise good files -----------------------------------------

TEST_F(DibRefusal, NotStartingWithBM) {
    const Bytes good = Built(Recipe(40, 5, 3, 8));
    ASSERT_TRUE(Taken(good));
    for (const auto& magic : {"MB", "BA", "bm", "\0\0"}) {
        Bytes file = good;
        file[0] = BYTE(magic[0]), file[1] = BYTE(magic[1]);
        ExpectRefused(file);
    }
}

TEST_F(DibRefusal, UnknownHeaderSizes) {
    for (const uint32_t size : {0u, 4u, 11u, 20u, 39u, 41u, 66u, 100u, 125u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        Bytes file = Built(Recipe(40, 5, 3, 8));
        PutLe32(file, 14, size);
        ExpectRefused(file);
    }
}

TEST_F(DibRefusal, BitCountsOutsideTheHeldDepths) {
    ASSERT_TRUE(Taken(Built(Recipe(40, 5, 3, 16))));
    for (const int bits : {0, 2, 3, 5, 7, 15, 48, 64, 30000}) {
        SCOPED_TRACE(bits);
        ExpectRefused(Built(Recipe(40, 5, 3, bits)));
    }
}

TEST_F(DibRefusal, CompressedRows) {
    const std::tuple<uint32_t, int, uint32_t> cases[] = {
        {40, 8, BI_RLE8},  {40, 4, BI_RLE4},     {40, 24, BI_JPEG}, {40, 24, BI_PNG},
        {124, 8, BI_RLE8}, {124, 24, BI_PNG},    {40, 32, 6},  // alpha masks
        {64, 1, 3},                                            // OS/2 Huffman 1D, not colour masks
        {64, 24, 4},                                           // OS/2 RLE24, not JPEG
        {40, 8, 7},        {40, 24, 0x80000000u}};
    for (const auto& [headerSize, bits, compression] : cases) {
        SCOPED_TRACE(testing::Message() << headerSize << "/" << bits << "/" << compression);
        BmpRecipe r = Recipe(headerSize, 6, 3, bits);
        r.compression = compression;
        ExpectRefused(Built(r));
    }
}

TEST_F(DibRefusal, ColourMasksTheImageCannotHold) {
    const std::tuple<uint32_t, int, uint32_t, uint32_t, uint32_t> cases[] = {
        {40, 16, 0xF800, 0x07E0, 0x001F},              // 5-6-5
        {124, 16, 0x0F00, 0x00F0, 0x000F},             // 4-4-4
        {40, 16, 0x001F, 0x03E0, 0x7C00},              // 5-5-5 with red and blue swapped
        {40, 32, 0x3FF00000, 0x000FFC00, 0x000003FF},  // 10-10-10
        {40, 32, 0xFF000000, 0x00000FF0, 0x00FF0000},  // green across two bytes
        {52, 32, 0xFF, 0xFF, 0xFF00},                  // one byte for two channels
        {56, 32, 0, 0, 0},
        {40, 32, 0x7F0000, 0xFF00, 0xFF},  // a 7-bit channel
        {40, 24, 0xFF0000, 0xFF00, 0xFF},  // masks only mean something at 16 and 32
        {40, 8, 0xFF0000, 0xFF00, 0xFF}};
    for (const auto& [headerSize, bits, red, green, blue] : cases) {
        SCOPED_TRACE(testing::Message() << headerSize << "/" << bits << std::hex << "/" << red
                                        << "/" << green << "/" << blue);
        ExpectRefused(Built(WithMasks(Recipe(headerSize, 3, 2, bits), red, green, blue)));
    }
}

TEST_F(DibRefusal, ImpossibleDimensions) {
    const std::tuple<int32_t, int32_t, int> cases[] = {{0, 3, 8},
                                                       {-5, 3, 8},
                                                       {5, 0, 8},
                                                       {5, INT_MIN, 8},
                                                       {INT_MIN, 3, 24},
                                                       {INT_MAX, INT_MAX, 24},
                                                       {3000000, 2000000, 24},
                                                       {INT_MAX, 1, 1},
                                                       {1, INT_MAX, 8},
                                                       {1, -INT_MAX, 8},
                                                       {65536, 65536, 32}};
    for (const auto& [w, h, bits] : cases) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << "x" << bits);
        // The rows stored are those of a small image; the header claims the size.
        Bytes file = Built(Recipe(40, 4, 2, bits));
        PutLe32(file, 18, uint32_t(w));
        PutLe32(file, 22, uint32_t(h));
        ExpectRefused(file);
    }
}

TEST_F(DibRefusal, RowsNotWhereTheFileSays) {
    const BuiltBmp good = BuildBmp(Recipe(124, 5, 3, 8));
    const uint32_t end = uint32_t(good.file.size()), rows = uint32_t(good.stride * 3);
    const uint32_t headerEnd = 14 + 124;
    // Rows may start right after the header (over the table) and may end at the end.
    for (const uint32_t off : {headerEnd, end - rows}) {
        Bytes file = good.file;
        PutLe32(file, 10, off);
        EXPECT_TRUE(Taken(file)) << off;
    }
    for (const uint32_t off :
         {0u, 14u, 53u, headerEnd - 1, end - rows + 1, end, end + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(off);
        Bytes file = good.file;
        PutLe32(file, 10, off);
        ExpectRefused(file);
    }
}

TEST_F(DibRefusal, FewerTableEntriesThanTheFileNeeds) {
    // An 8-bit 4 x 1 image with its rows right after the header: the four row bytes are
    // one table entry's worth, which is enough only when the header says one is used.
    BmpRecipe r = Recipe(40, 4, 1, 8);
    r.tableEntries = 0;
    for (const uint32_t used : {0u, 2u, 16u, 255u}) {
        SCOPED_TRACE(used);
        r.clrUsed = used;
        ExpectRefused(Built(r));
    }
    r.clrUsed = 1;
    EXPECT_TRUE(Taken(Built(r)));

    // The OS/2 table has three-byte entries: 4 row bytes hold one.
    BmpRecipe core = Recipe(12, 4, 1, 8);
    core.tableEntries = 0;
    ExpectRefused(Built(core));
}

TEST_F(DibRefusal, SizesPastThirtyTwoBitsEvenWhenTheFileIsLongEnough) {
    // A sparse file long enough for rows of 2^31 bytes: the byte count alone refuses it.
    for (const auto& [w, h, bits] : {std::tuple{65536, 32768, 8}, std::tuple{16384, 32768, 32},
                                     std::tuple{2147483647, 1, 8}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << "x" << bits);
        Bytes head = Built(Recipe(40, 1, 1, bits));
        PutLe32(head, 18, uint32_t(w));
        PutLe32(head, 22, uint32_t(h));
        const uint64_t rows = DibRowSize(w, bits) * uint64_t(h);
        WriteFile(m_path, head);
        ASSERT_EQ(0, ::truncate(m_path.c_str(), off_t(Le32(head, 10) + rows)));
        CDIB dib;
        MakePattern(dib, 6, 3, 8, 21);
        const DibState before = Capture(dib);
        EXPECT_FALSE(dib.ReadBmp(m_path.c_str()));
        EXPECT_EQ(Capture(dib), before);
    }
}

TEST_F(DibRefusal, NotARegularFile) {
    CDIB dib;
    MakePattern(dib, 6, 3, 8, 21);
    const DibState before = Capture(dib);
    EXPECT_FALSE(dib.ReadBmp(m_dir.File("").c_str()));  // the folder itself
    EXPECT_FALSE(dib.LoadBmp(m_dir.File("").c_str()));
    EXPECT_FALSE(dib.ReadBmp("/dev/null"));
    EXPECT_EQ(Capture(dib), before);
}

// --- Packed DIBs in global memory ---------------------------------------------------

// CreateFromHandle on exactly these bytes; a refusal must leave no image behind.
BOOL FromBlock(CDIB& dib, const BYTE* data, size_t size) {
    HGLOBAL h = BlockOf(data, size);
    EXPECT_NE(h, nullptr);
    const BOOL ok = dib.CreateFromHandle(h, 8);
    GlobalFree(h);
    if (!ok) {
        EXPECT_EQ(dib.m_pBlock, nullptr);
        EXPECT_EQ(dib.m_ppRows, nullptr);
    }
    return ok;
}

Bytes PackedOf(int w, int h, int bits) {
    CDIB dib;
    MakePattern(dib, w, h, bits, uint32_t(3 * w + bits));
    dib.m_pInfo->biClrUsed = 0;
    return PackedBytes(dib);
}

// A file's info header onwards is a packed DIB when the rows follow the table directly.
Bytes PackedFromFile(const Bytes& file) { return Bytes(file.begin() + 14, file.end()); }

struct GoodBlock {
    const char* name;
    std::function<Bytes()> make;
    bool repacksIdentically;  // 40-byte header, bottom-up, full table
};

void PrintTo(const GoodBlock& b, std::ostream* os) { *os << b.name; }

class DibBlockPrefix : public ::testing::TestWithParam<GoodBlock> {};

TEST_P(DibBlockPrefix, EveryShorterBlockIsRefused) {
    const Bytes whole = GetParam().make();
    CDIB dib;
    ASSERT_TRUE(FromBlock(dib, whole.data(), whole.size()));
    if (GetParam().repacksIdentically) {
        EXPECT_EQ(PackedBytes(dib), whole);
    }
    for (size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        MakePattern(dib, 3, 3, 8, 1);  // an image to be released
        EXPECT_FALSE(FromBlock(dib, whole.data(), length));
        if (HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, DibBlockPrefix,
    ::testing::Values(
        GoodBlock{"Packed1", [] { return PackedOf(9, 3, 1); }, true},
        GoodBlock{"Packed4", [] { return PackedOf(5, 2, 4); }, true},
        GoodBlock{"Packed8", [] { return PackedOf(5, 3, 8); }, true},
        GoodBlock{"Packed24", [] { return PackedOf(3, 2, 24); }, true},
        GoodBlock{"Header124", [] { return PackedFromFile(Built(Recipe(124, 7, 3, 8))); }, false},
        GoodBlock{"TopDown4", [] { return PackedFromFile(Built(Recipe(40, 5, -4, 4))); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DibBlockRefusal, SizesAndFormatsItCannotHold) {
    const Bytes good = PackedOf(4, 2, 8);
    const std::tuple<int32_t, int32_t, int, uint32_t, uint32_t> cases[] = {
        // width, height, bits, compression, header size
        {0, 2, 8, BI_RGB, 40},
        {-4, 2, 8, BI_RGB, 40},
        {4, 0, 8, BI_RGB, 40},
        {4, INT_MIN, 8, BI_RGB, 40},
        {INT_MAX, INT_MAX, 24, BI_RGB, 40},
        {3000000, 2000000, 24, BI_RGB, 40},
        {INT_MAX, 1, 8, BI_RGB, 40},
        {1, -INT_MAX, 8, BI_RGB, 40},
        {4, 2, 16, BI_RGB, 40},
        {4, 2, 32, BI_RGB, 40},
        {4, 2, 2, BI_RGB, 40},
        {4, 2, 8, BI_RLE8, 40},
        {4, 2, 24, BI_BITFIELDS, 40},
        {4, 2, 8, BI_RGB, 12},
        {4, 2, 8, BI_RGB, 64},
        {4, 2, 8, BI_RGB, 41},
        {4, 2, 8, BI_RGB, 0xFFFFFFFF}};
    for (const auto& [w, h, bits, compression, size] : cases) {
        SCOPED_TRACE(testing::Message()
                     << w << "x" << h << "x" << bits << " c" << compression << " h" << size);
        Bytes block = good;
        PutLe32(block, 0, size);
        PutLe32(block, 4, uint32_t(w));
        PutLe32(block, 8, uint32_t(h));
        PutLe16(block, 14, uint16_t(bits));
        PutLe32(block, 16, compression);
        CDIB dib;
        MakePattern(dib, 3, 3, 8, 1);
        EXPECT_FALSE(FromBlock(dib, block.data(), block.size()));
    }
}

TEST(DibBlockRefusal, ShortTableMustBeWhollyInTheBlock) {
    // 8 bits, 16 entries used and stored, rows after them: taken with the rest black.
    Bytes block = PackedOf(4, 2, 8);
    const Bytes rows(block.end() - 8, block.end());
    block.resize(40 + 64);
    PutLe32(block, 32, 16);
    block.insert(block.end(), rows.begin(), rows.end());
    CDIB dib;
    ASSERT_TRUE(FromBlock(dib, block.data(), block.size()));
    EXPECT_EQ(0, std::memcmp(dib.m_pColors, block.data() + 40, 64));
    for (int i = 16; i < 256; ++i) {
        EXPECT_EQ(dib.m_pColors[i].rgbRed | dib.m_pColors[i].rgbGreen | dib.m_pColors[i].rgbBlue, 0)
            << i;
    }
    EXPECT_EQ(0, std::memcmp(dib.m_pBits, rows.data(), rows.size()));

    // One byte short, or a table that claims more than it has, or more than a full one.
    EXPECT_FALSE(FromBlock(dib, block.data(), block.size() - 1));
    for (const uint32_t used : {17u, 255u, 256u, 300u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(used);
        PutLe32(block, 32, used);
        EXPECT_FALSE(FromBlock(dib, block.data(), block.size()));
    }
}

TEST(DibBlockRefusal, NoBlockAtAll) {
    CDIB dib;
    MakePattern(dib, 3, 3, 8, 1);
    EXPECT_FALSE(dib.CreateFromHandle(nullptr, 8));
    EXPECT_EQ(dib.m_pBlock, nullptr);
    EXPECT_EQ(dib.m_ppRows, nullptr);
}

}  // namespace
