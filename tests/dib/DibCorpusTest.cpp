// The BMP suite corpus (good, questionable and bad files), read from the shared folder.
// Every file must be read or refused without harm; the good files the reader takes must
// show the colours ImageMagick shows, and the ones it takes must stay taken.
#include <algorithm>
#include <map>
#include <set>

#include "tests/dib/BmpTestSupport.h"

namespace {

using namespace bmptest;

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpusDir + folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A taken file must give an image that is whole and in the held form.
void ExpectWellFormed(const CDIB& dib, uint64_t fileSize) {
    ASSERT_NE(dib.m_pBlock, nullptr);
    ASSERT_NE(dib.m_ppRows, nullptr);
    const BITMAPINFOHEADER& h = *dib.m_pInfo;
    EXPECT_EQ(static_cast<const void*>(dib.m_pInfo), dib.m_pBlock);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_TRUE(std::set<int>({1, 4, 8, 16, 24, 32}).count(h.biBitCount)) << h.biBitCount;
    EXPECT_GT(h.biWidth, 0);
    EXPECT_GT(h.biHeight, 0);
    EXPECT_EQ(dib.m_nWidth, h.biWidth);
    EXPECT_EQ(dib.m_nHeight, h.biHeight);
    EXPECT_EQ(size_t(dib.m_nStride), DibRowSize(h.biWidth, h.biBitCount));
    // Every row came out of the file, so the rows cannot be longer than it.
    EXPECT_LE(uint64_t(dib.m_nStride) * dib.m_nHeight, fileSize);
    DecodeRgb(dib);  // touches every pixel and table entry the picture uses
}

// Reads every file of a folder into an image that already holds one: a refusal must
// leave that image exactly as it was. Returns the names of the files taken.
std::set<std::string> ReadFolder(const std::string& folder) {
    std::set<std::string> taken;
    const auto names = FilesIn(folder);
    EXPECT_FALSE(names.empty()) << "no corpus in " << kCorpusDir + folder;
    for (const auto& name : names) {
        SCOPED_TRACE(folder + name);
        const std::string path = kCorpusDir + folder + name;
        CDIB dib;
        MakePattern(dib, 3, 2, 8, 9);
        const DibState before = Capture(dib);
        if (dib.ReadBmp(path.c_str())) {
            taken.insert(name);
            ExpectWellFormed(dib, ReadFile(path).size());
        } else {
            EXPECT_EQ(Capture(dib), before);
        }
    }
    return taken;
}

// Named files must be in the folder (else refusing them proves nothing) and refused.
void ExpectRefusedAndPresent(const std::string& folder, const std::set<std::string>& names,
                             const std::set<std::string>& taken) {
    for (const auto& name : names) {
        EXPECT_TRUE(std::filesystem::exists(kCorpusDir + folder + name)) << name;
        EXPECT_FALSE(taken.count(name)) << name;
    }
}

// Compares our colours with ImageMagick's, file by file; a file may name another that
// holds the same picture for ImageMagick to read instead (where ImageMagick misreads it).
void ExpectImageMagickColours(const std::string& folder,
                              const std::map<std::string, std::string>& files) {
    TempDir dir;
    for (const auto& [name, reference] : files) {
        SCOPED_TRACE(folder + name);
        const std::string path = kCorpusDir + folder + name;
        CDIB dib;
        ASSERT_TRUE(dib.ReadBmp(path.c_str()));
        const Bytes theirs = ImageMagickRgb(reference.empty() ? path : kCorpusDir + reference, dir);
        ASSERT_EQ(theirs.size(), size_t(3) * dib.m_nWidth * dib.m_nHeight);
        const Bytes ours = DecodeRgb(dib);
        const auto diff = std::mismatch(ours.begin(), ours.end(), theirs.begin());
        EXPECT_TRUE(diff.first == ours.end())
            << "first difference at pixel " << (diff.first - ours.begin()) / 3;
    }
}

std::map<std::string, std::string> Themselves(const std::set<std::string>& names) {
    std::map<std::string, std::string> files;
    for (const auto& name : names) files[name] = "";
    return files;
}

// Good files the reader takes: uncompressed rows of 1, 4, 8, 16 (5-5-5), 24 and 32 bits,
// with 40-byte, OS/2, 108- and 124-byte headers, top-down, short tables.
const std::set<std::string> kGoodTaken{
    "pal1.bmp",   "pal1bg.bmp",        "pal1wb.bmp",   "pal4.bmp",        "pal8-0.bmp",
    "pal8.bmp",   "pal8nonsquare.bmp", "pal8os2.bmp",  "pal8topdown.bmp", "pal8v4.bmp",
    "pal8v5.bmp", "pal8w124.bmp",      "pal8w125.bmp", "pal8w126.bmp",    "rgb16.bmp",
    "rgb24.bmp",  "rgb24pal.bmp",      "rgb32.bmp"};

// Good files refused by decision: run-length rows, 5-6-5 masks, and 32-bit masks whose
// green channel straddles two bytes.
const std::set<std::string> kGoodRefused{"pal4rle.bmp", "pal8rle.bmp", "rgb16-565.bmp",
                                         "rgb16-565pal.bmp", "rgb32bf.bmp"};

TEST(DibCorpus, GoodFilesTakenAsDecided) {
    const auto names = FilesIn("g/");
    std::set<std::string> known(kGoodTaken);
    known.insert(kGoodRefused.begin(), kGoodRefused.end());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), known)
        << "the corpus changed: sort its new files into the lists above";
    EXPECT_EQ(ReadFolder("g/"), kGoodTaken);
}

TEST(DibCorpus, GoodFilesShowImageMagicksColours) {
    ExpectImageMagickColours("g/", Themselves(kGoodTaken));
}

// Questionable files whose meaning is not in doubt: a gap before the rows, OS/2 2.x
// headers of 16 and 64 bytes, 52- and 56-byte headers, 32-bit masks in other byte
// orders, colour profiles, and a 24-bit file carrying a table.
const std::set<std::string> kQuestionableClear{
    "pal8offs.bmp",  "pal8os2v2.bmp",    "pal8os2v2-16.bmp", "rgb32h52.bmp",
    "rgba32h56.bmp", "rgb32bf-xbgr.bmp", "rgba32.bmp",       "rgb32fakealpha.bmp",
    "rgb24prof.bmp", "rgb24lprof.bmp",   "rgb24largepal.bmp"};

// Questionable files outside what the reader holds: 2 bits, JPEG and PNG rows,
// run-length rows, masks other than 5-5-5 or whole bytes, alpha-bit-field compression.
const std::set<std::string> kQuestionableRefused{
    "pal2.bmp",      "rgb24jpeg.bmp",   "rgb24png.bmp",     "pal4rletrns.bmp", "pal8rletrns.bmp",
    "rgb16-231.bmp", "rgba16-4444.bmp", "rgb32-111110.bmp", "rgba32abf.bmp"};

TEST(DibCorpus, QuestionableFilesReadWithoutHarm) {
    const auto taken = ReadFolder("q/");
    for (const auto& name : kQuestionableClear) EXPECT_TRUE(taken.count(name)) << name;
    ExpectRefusedAndPresent("q/", kQuestionableRefused, taken);
}

TEST(DibCorpus, ClearQuestionableFilesShowImageMagicksColours) {
    auto files = Themselves(kQuestionableClear);
    // ImageMagick 6 misreads the 64-byte OS/2 header; the picture is that of g/pal8.bmp.
    files["pal8os2v2.bmp"] = "g/pal8.bmp";
    ExpectImageMagickColours("q/", files);
}

// Bad files whose fault the reader checks for: they must be refused. The others in the
// folder (odd planes, densities, sizes in the header that are not used, indices past
// the table) are read or refused, but without harm.
const std::set<std::string> kBadRefused{"badbitcount.bmp", "badheadersize.bmp", "badrle.bmp",
                                        "badwidth.bmp",    "reallybig.bmp",     "rletopdown.bmp",
                                        "shortfile.bmp"};

TEST(DibCorpus, BadFilesReadWithoutHarm) {
    ExpectRefusedAndPresent("b/", kBadRefused, ReadFolder("b/"));
}

}  // namespace
