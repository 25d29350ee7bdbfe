// Seeded mutation runs over the two readers of outside data: BMP files and packed
// DIBs in global memory. Each mutant must be refused or read into a consistent image;
// the sanitizer build turns any read past the input into a failure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dib/Dib.h"

namespace {

std::vector<BYTE> PackedImage(int width, int height, int bits) {
    CDIB dib;
    EXPECT_TRUE(dib.Create(width, height, bits));
    for (int i = 0; i < dib.GetColorCount(); ++i) {
        dib.m_pColors[i] = {BYTE(i * 7), BYTE(i * 13), BYTE(255 - i), 0};
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < dib.m_nStride; ++x) dib.GetRowPtr(y)[x] = BYTE(x * 31 + y * 17);
    }
    HGLOBAL h = dib.PackToGlobal();
    const auto* p = static_cast<const BYTE*>(GlobalLock(h));
    std::vector<BYTE> bytes(p, p + GlobalSize(h));
    GlobalUnlock(h);
    GlobalFree(h);
    return bytes;
}

std::vector<BYTE> BmpFile(const std::vector<BYTE>& packed, int colors) {
    std::vector<BYTE> file(14, 0);
    file[0] = 'B', file[1] = 'M';
    const uint32_t size = uint32_t(packed.size() + 14), off = uint32_t(54 + 4 * colors);
    std::memcpy(&file[2], &size, 4);
    std::memcpy(&file[10], &off, 4);
    file.insert(file.end(), packed.begin(), packed.end());
    return file;
}

// A successfully read image must be self-consistent and fully addressable.
void ExpectConsistent(const CDIB& dib) {
    ASSERT_NE(dib.m_pBlock, nullptr);
    ASSERT_NE(dib.m_ppRows, nullptr);
    EXPECT_GT(dib.m_nWidth, 0);
    EXPECT_GT(dib.m_nHeight, 0);
    EXPECT_EQ(dib.m_pInfo->biSize, 40u);
    EXPECT_EQ(dib.m_pInfo->biWidth, dib.m_nWidth);
    EXPECT_EQ(dib.m_pInfo->biHeight, dib.m_nHeight);
    EXPECT_EQ(dib.m_nStride % 4, 0);
    // Touch the first and last byte of every row: the sanitizer checks they are ours.
    unsigned sum = 0;
    for (int y = 0; y < dib.m_nHeight; ++y) {
        sum += dib.GetRowPtr(y)[0] + dib.GetRowPtr(y)[dib.m_nStride - 1];
    }
    (void)sum;
}

// Mutates bytes, mostly in the headers where the sizes live, sometimes cuts the tail.
std::vector<BYTE> Mutate(std::vector<BYTE> bytes, std::mt19937& rng, size_t headerBytes) {
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const size_t span = (rng() % 4 == 0) ? bytes.size() : std::min(headerBytes, bytes.size());
        const size_t at = rng() % span;
        switch (rng() % 4) {
            case 0: bytes[at] = BYTE(rng()); break;
            case 1: bytes[at] ^= BYTE(1u << (rng() % 8)); break;
            case 2: bytes[at] = (rng() % 2) ? 0xFF : 0x00; break;
            case 3: bytes[at] = BYTE(bytes[at] + 1); break;
        }
    }
    if (rng() % 5 == 0) bytes.resize(rng() % bytes.size());
    return bytes;
}

struct Seed {
    int width, height, bits;
};
const Seed kSeeds[] = {{13, 5, 1}, {7, 6, 4}, {9, 4, 8}, {5, 3, 24}};

TEST(DibFuzz, MutatedBmpFilesAreRefusedOrReadConsistently) {
    char dir[] = "/tmp/velomark-fuzz-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/mutant.bmp";
    std::mt19937 rng(20261207);
    int taken = 0, refused = 0;
    for (const Seed& s : kSeeds) {
        const auto file =
            BmpFile(PackedImage(s.width, s.height, s.bits), s.bits <= 8 ? 1 << s.bits : 0);
        for (int i = 0; i < 3000; ++i) {
            const auto mutant = Mutate(file, rng, 54);
            FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(mutant.data(), 1, mutant.size(), f);
            std::fclose(f);
            CDIB dib;
            if (dib.ReadBmp(path.c_str())) {
                ++taken;
                ExpectConsistent(dib);
                EXPECT_LE(size_t(dib.GetDIBSize()) + 14, mutant.size() + 4 * 256 + 28);
            } else {
                ++refused;
                EXPECT_EQ(dib.m_pBlock, nullptr);
            }
        }
    }
    std::remove(path.c_str());
    rmdir(dir);
    // Both outcomes occur, so the mutations reach the checks and the reading paths.
    EXPECT_GT(taken, 0);
    EXPECT_GT(refused, 0);
}

TEST(DibFuzz, MutatedPackedDibsAreRefusedOrCopiedConsistently) {
    std::mt19937 rng(7);
    int taken = 0, refused = 0;
    for (const Seed& s : kSeeds) {
        const auto packed = PackedImage(s.width, s.height, s.bits);
        for (int i = 0; i < 20000; ++i) {
            const auto mutant = Mutate(packed, rng, 40);
            HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, mutant.size());
            ASSERT_NE(h, nullptr);
            if (!mutant.empty()) std::memcpy(GlobalLock(h), mutant.data(), mutant.size());
            GlobalUnlock(h);
            CDIB dib;
            if (dib.CreateFromHandle(h, 8)) {
                ++taken;
                ExpectConsistent(dib);
            } else {
                ++refused;
                EXPECT_EQ(dib.m_pBlock, nullptr);
            }
            GlobalFree(h);
        }
    }
    EXPECT_GT(taken, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
