// BMP files exchanged with ImageMagick: what SaveBmp writes ImageMagick reads with the
// same colours, and what ImageMagick writes (its own default layout, BMP3 and OS/2)
// ReadBmp reads with the colours ImageMagick itself sees in it.
#include "tests/dib/BmpTestSupport.h"

namespace {

using namespace bmptest;

class DibToImageMagick : public ::testing::TestWithParam<Shape> {};

TEST_P(DibToImageMagick, SameColours) {
    const Shape s = GetParam();
    TempDir dir;
    const std::string path = dir.File("ours.bmp");
    CDIB dib;
    MakePattern(dib, s.width, s.height, s.bits, 31u * s.bits + s.width);
    ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
    const Bytes theirs = ImageMagickRgb(path, dir);
    ASSERT_EQ(theirs.size(), size_t(3) * s.width * s.height);
    EXPECT_TRUE(theirs == DecodeRgb(dib));
}

INSTANTIATE_TEST_SUITE_P(Depths, DibToImageMagick,
                         ::testing::Values(Shape{1, 37, 23}, Shape{1, 1, 1}, Shape{4, 37, 23},
                                           Shape{4, 3, 2}, Shape{8, 37, 23}, Shape{8, 1, 3},
                                           Shape{16, 37, 23}, Shape{24, 37, 23}, Shape{24, 2, 5},
                                           Shape{32, 37, 23}),
                         [](const auto& info) {
                             return std::to_string(info.param.bits) + "bit_" +
                                    std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

struct ImageMagickBmp {
    const char* name;
    std::vector<std::string> options;  // options between the input and the output
    const char* prefix;                // output format prefix: "", "BMP3:" or "BMP2:"
    uint32_t headerSize;               // what ImageMagick is known to write
    int bits;
};

void PrintTo(const ImageMagickBmp& c, std::ostream* os) { *os << c.name; }

class DibFromImageMagick : public ::testing::TestWithParam<ImageMagickBmp> {};

TEST_P(DibFromImageMagick, SameColoursAsImageMagickSees) {
    const ImageMagickBmp& c = GetParam();
    TempDir dir;
    const std::string source = dir.File("plasma.ppm"), path = dir.File("theirs.bmp");
    ASSERT_TRUE(RunConvert({"-size", "37x23", "-seed", "7", "plasma:", source}));
    std::vector<std::string> args{source};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(std::string(c.prefix) + path);
    ASSERT_TRUE(RunConvert(args));

    // The case only means something if ImageMagick wrote the layout it is named after.
    const Bytes file = ReadFile(path);
    ASSERT_GE(file.size(), 30u);
    ASSERT_EQ(Le32(file, 14), c.headerSize);
    ASSERT_EQ(Le16(file, c.headerSize == 12 ? 24 : 28), c.bits);
    if (c.headerSize > 12) {
        ASSERT_NE(Le32(file, 30), BI_RLE8) << "add -compress none";
    }

    CDIB dib;
    ASSERT_TRUE(dib.ReadBmp(path.c_str()));
    EXPECT_EQ(dib.m_pInfo->biBitCount, c.bits);
    EXPECT_EQ(dib.m_nWidth, 37);
    EXPECT_EQ(dib.m_nHeight, 23);
    const Bytes theirs = ImageMagickRgb(path, dir);
    ASSERT_EQ(theirs.size(), size_t(3) * 37 * 23);
    EXPECT_TRUE(DecodeRgb(dib) == theirs);
}

const std::vector<std::string> kBilevel{"-monochrome"};
const std::vector<std::string> kSixteen{"-type", "Palette", "-colors", "16", "-compress", "none"};
const std::vector<std::string> kPalette{"-type", "Palette", "-colors", "200", "-compress", "none"};
const std::vector<std::string> kTrue{"-type", "TrueColor"};
const std::vector<std::string> kAlpha{"-alpha",    "set", "-channel", "A",
                                      "-evaluate", "set", "60%",      "+channel"};

INSTANTIATE_TEST_SUITE_P(Layouts, DibFromImageMagick,
                         ::testing::Values(ImageMagickBmp{"Default1", kBilevel, "", 108, 1},
                                           ImageMagickBmp{"Default4", kSixteen, "", 124, 4},
                                           ImageMagickBmp{"Default8", kPalette, "", 124, 8},
                                           ImageMagickBmp{"Default24", kTrue, "", 124, 24},
                                           ImageMagickBmp{"Default32Masks", kAlpha, "", 124, 32},
                                           ImageMagickBmp{"Bmp3_1", kBilevel, "BMP3:", 40, 1},
                                           ImageMagickBmp{"Bmp3_4", kSixteen, "BMP3:", 40, 4},
                                           ImageMagickBmp{"Bmp3_8", kPalette, "BMP3:", 40, 8},
                                           ImageMagickBmp{"Bmp3_24", kTrue, "BMP3:", 40, 24},
                                           ImageMagickBmp{"Os2_4", kSixteen, "BMP2:", 12, 4},
                                           ImageMagickBmp{"Os2_8", kPalette, "BMP2:", 12, 8},
                                           ImageMagickBmp{"Os2_24", kTrue, "BMP2:", 12, 24}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DibFromImageMagick, RunLengthRowsAreRefused) {
    // ImageMagick writes palette images run-length coded unless told otherwise.
    TempDir dir;
    const std::string path = dir.File("rle.bmp");
    ASSERT_TRUE(RunConvert({"-size", "37x23", "-seed", "7", "plasma:", "-type", "Palette",
                            "-colors", "200", "BMP3:" + path}));
    ASSERT_EQ(Le32(ReadFile(path), 30), BI_RLE8);
    CDIB dib;
    MakePattern(dib, 4, 4, 8, 3);
    const DibState before = Capture(dib);
    EXPECT_FALSE(dib.ReadBmp(path.c_str()));
    EXPECT_EQ(Capture(dib), before);
}

}  // namespace
