// The frame converter on synthetic SANE frames: every supported format, depth and
// frame order, padded lines, unknown line counts, and the frames it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/WinTypes.h"
#include "sources/sane/SaneImageConverter.h"
#include "tests/DibRowSize.h"
#include "tests/sources/sane/SaneTestImages.h"

namespace {

SANE_Parameters Frame(SANE_Frame format, int ppl, int bpl, int lines, int depth, bool last = true) {
    return SANE_Parameters{format, last ? 1 : 0, bpl, ppl, lines, depth};
}

struct Converted {
    std::vector<uint8_t> bytes;
    TW_IMAGEINFO info{};
    BITMAPINFOHEADER header{};
    const uint8_t* Pixels() const { return bytes.data() + 40 + header.biClrUsed * 4; }
    size_t Stride() const { return DibRowSize(header.biWidth, header.biBitCount); }
    // Row y from the top of the page.
    const uint8_t* Row(int y) const {
        return Pixels() + size_t(header.biHeight - 1 - y) * Stride();
    }
};

Converted Convert(SaneImageConverter& converter, double dpi = 100) {
    Converted out;
    std::string error;
    HGLOBAL block = converter.MakeDib(dpi, &out.info, &error);
    EXPECT_NE(block, nullptr) << error;
    if (!block) return out;
    out.bytes = BlockContents(block);
    GlobalFree(block);
    std::memcpy(&out.header, out.bytes.data(), sizeof out.header);
    EXPECT_EQ(out.bytes.size(), 40 + out.header.biClrUsed * 4 + out.Stride() * out.header.biHeight);
    return out;
}

void Feed(SaneImageConverter& converter, const SANE_Parameters& p, std::vector<uint8_t> data) {
    std::string error;
    ASSERT_TRUE(converter.BeginFrame(p, &error)) << error;
    converter.Append(data.data(), data.size());
}

TEST(SaneImageConverter, GreyLinesLoseTheirPaddingAndTurnBottomUp) {
    SaneImageConverter converter;
    Feed(converter, Frame(SANE_FRAME_GRAY, 3, 5, 2, 8), {10, 20, 30, 99, 99, 40, 50, 60, 99, 99});
    const Converted dib = Convert(converter, 150.5);
    EXPECT_EQ(dib.header.biSize, 40u);
    EXPECT_EQ(dib.header.biWidth, 3);
    EXPECT_EQ(dib.header.biHeight, 2);
    EXPECT_EQ(dib.header.biBitCount, 8);
    EXPECT_EQ(dib.header.biClrUsed, 256u);
    EXPECT_EQ(dib.header.biSizeImage, 8u);
    EXPECT_EQ(dib.header.biXPelsPerMeter, 5925);
    const auto* table = reinterpret_cast<const RGBQUAD*>(dib.bytes.data() + 40);
    for (int i : {0, 1, 128, 255}) {
        EXPECT_EQ(table[i].rgbRed, i);
        EXPECT_EQ(table[i].rgbBlue, i);
    }
    // The bottom row comes first; padding bytes of the DIB are zero.
    EXPECT_EQ(std::vector<uint8_t>(dib.Pixels(), dib.Pixels() + 8),
              (std::vector<uint8_t>{40, 50, 60, 0, 10, 20, 30, 0}));
    EXPECT_EQ(dib.info.XResolution.Whole, 150);
    EXPECT_EQ(dib.info.XResolution.Frac, 0x8000);
    EXPECT_EQ(dib.info.ImageWidth, 3);
    EXPECT_EQ(dib.info.ImageLength, 2);
    EXPECT_EQ(dib.info.PixelType, TWPT_GRAY);
    EXPECT_EQ(dib.info.SamplesPerPixel, 1);
    EXPECT_EQ(dib.info.BitsPerSample[0], 8);
    EXPECT_EQ(dib.info.BitsPerSample[1], 0);
    EXPECT_EQ(dib.info.BitsPerPixel, 8);
}

TEST(SaneImageConverter, LinesSplitAcrossReadsGiveTheSameImage) {
    const std::vector<uint8_t> page = {1,  2,  3, 4,  5,  6,  0,  7,  8,  9, 10,
                                       11, 12, 0, 13, 14, 15, 16, 17, 18, 0};
    SaneImageConverter whole;
    Feed(whole, Frame(SANE_FRAME_RGB, 2, 7, 3, 8), page);
    const Converted expected = Convert(whole);
    for (size_t chunk : {1, 2, 5, 8, 13}) {
        SaneImageConverter pieces;
        std::string error;
        ASSERT_TRUE(pieces.BeginFrame(Frame(SANE_FRAME_RGB, 2, 7, 3, 8), &error));
        for (size_t at = 0; at < page.size(); at += chunk)
            pieces.Append(page.data() + at, std::min(chunk, page.size() - at));
        EXPECT_EQ(Convert(pieces).bytes, expected.bytes) << "chunks of " << chunk;
    }
    EXPECT_EQ(std::vector<uint8_t>(expected.Row(2), expected.Row(2) + 6),
              (std::vector<uint8_t>{15, 14, 13, 18, 17, 16}));
}

TEST(SaneImageConverter, LineArtsOneIsBlackAndTheRowsTailStaysClear) {
    SaneImageConverter converter;
    // 10 pixels: 1010000011, then bits past the pixels set.
    Feed(converter, Frame(SANE_FRAME_GRAY, 10, 2, 1, 1), {0b10100000, 0b11111111});
    const Converted dib = Convert(converter);
    EXPECT_EQ(dib.header.biBitCount, 1);
    EXPECT_EQ(dib.header.biClrUsed, 2u);
    const auto* table = reinterpret_cast<const RGBQUAD*>(dib.bytes.data() + 40);
    EXPECT_EQ(table[0].rgbRed, 0);
    EXPECT_EQ(table[1].rgbRed, 255);
    EXPECT_EQ(dib.Row(0)[0], 0b01011111);
    EXPECT_EQ(dib.Row(0)[1], 0b00000000);  // the two pixels black, the tail clear
    EXPECT_EQ(dib.info.PixelType, TWPT_BW);
    EXPECT_EQ(dib.info.BitsPerPixel, 1);
    EXPECT_EQ(dib.info.BitsPerSample[0], 1);
}

TEST(SaneImageConverter, SixteenBitSamplesKeepTheirHighByte) {
    uint16_t grey[2] = {0x1234, 0xfe01};
    std::vector<uint8_t> greyBytes(4);
    std::memcpy(greyBytes.data(), grey, 4);  // the machine's byte order, as SANE sends it
    SaneImageConverter greyConverter;
    Feed(greyConverter, Frame(SANE_FRAME_GRAY, 2, 4, 1, 16), greyBytes);
    const Converted greyDib = Convert(greyConverter);
    EXPECT_EQ(greyDib.header.biBitCount, 8);
    EXPECT_EQ(greyDib.Row(0)[0], 0x12);
    EXPECT_EQ(greyDib.Row(0)[1], 0xfe);

    uint16_t rgb[3] = {0xaa00, 0xbb11, 0xcc22};
    std::vector<uint8_t> rgbBytes(6);
    std::memcpy(rgbBytes.data(), rgb, 6);
    SaneImageConverter colourConverter;
    Feed(colourConverter, Frame(SANE_FRAME_RGB, 1, 6, 1, 16), rgbBytes);
    const Converted colourDib = Convert(colourConverter);
    EXPECT_EQ(colourDib.header.biBitCount, 24);
    EXPECT_EQ(colourDib.Row(0)[0], 0xcc);  // blue first
    EXPECT_EQ(colourDib.Row(0)[1], 0xbb);
    EXPECT_EQ(colourDib.Row(0)[2], 0xaa);
    EXPECT_EQ(colourDib.info.BitsPerSample[2], 8);
    EXPECT_EQ(colourDib.info.SamplesPerPixel, 3);
}

TEST(SaneImageConverter, ColourRowsBecomeBlueGreenRed) {
    SaneImageConverter converter;
    Feed(converter, Frame(SANE_FRAME_RGB, 2, 7, 2, 8),
         {1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12, 0});
    const Converted dib = Convert(converter);
    EXPECT_EQ(dib.header.biClrUsed, 0u);
    EXPECT_EQ(dib.Stride(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(dib.Row(0), dib.Row(0) + 8),
              (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(dib.Row(1), dib.Row(1) + 6),
              (std::vector<uint8_t>{9, 8, 7, 12, 11, 10}));
    EXPECT_EQ(dib.info.PixelType, TWPT_RGB);
}

// Lines long enough for the converter's many-pixels-a-step swap, with every tail
// length after it: each pixel swapped, the row's padding clear, nothing past a line.
TEST(SaneImageConverter, LongColourRowsAreSwappedWholeToTheirLastPixel) {
    for (int width : {5, 6, 7, 8, 21, 22, 23}) {
        SaneImageConverter converter;
        const int lineBytes = width * 3 + 1;  // one padding byte the DIB must not keep
        std::vector<uint8_t> frame(size_t(lineBytes) * 2);
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(7 * i + 1);
        Feed(converter, Frame(SANE_FRAME_RGB, width, lineBytes, 2, 8), frame);
        const Converted dib = Convert(converter);
        for (int y = 0; y < 2; ++y) {
            std::vector<uint8_t> expected(dib.Stride(), 0);
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    expected[size_t(3 * x + c)] = frame[size_t(y * lineBytes + 3 * x + 2 - c)];
            EXPECT_EQ(std::vector<uint8_t>(dib.Row(y), dib.Row(y) + dib.Stride()), expected)
                << "width " << width << ", row " << y;
        }
    }
}

TEST(SaneImageConverter, ThreePassFramesAreAssembledInAnyOrder) {
    SaneImageConverter converter;
    Feed(converter, Frame(SANE_FRAME_GREEN, 2, 2, 1, 8, false), {20, 21});
    EXPECT_FALSE(converter.LastFrameBegun());
    Feed(converter, Frame(SANE_FRAME_BLUE, 2, 2, 1, 8, false), {30, 31});
    Feed(converter, Frame(SANE_FRAME_RED, 2, 2, 1, 8, true), {10, 11});
    EXPECT_TRUE(converter.LastFrameBegun());
    const Converted dib = Convert(converter);
    EXPECT_EQ(std::vector<uint8_t>(dib.Row(0), dib.Row(0) + 6),
              (std::vector<uint8_t>{30, 20, 10, 31, 21, 11}));
    EXPECT_EQ(dib.info.PixelType, TWPT_RGB);
}

TEST(SaneImageConverter, AnUnknownLineCountIsCountedFromTheBytes) {
    SaneImageConverter converter;
    Feed(converter, Frame(SANE_FRAME_GRAY, 2, 2, -1, 8), {1, 2, 3, 4});
    EXPECT_EQ(converter.ExpectedFrameBytes(), 0u);
    const uint8_t more[] = {5, 6, 7};  // the last line is incomplete and dropped
    converter.Append(more, sizeof more);
    const Converted dib = Convert(converter);
    EXPECT_EQ(dib.header.biHeight, 3);
    EXPECT_EQ(dib.info.ImageLength, 3);
    EXPECT_EQ(dib.Row(2)[0], 5);
}

TEST(SaneImageConverter, BytesPastTheAnnouncedLinesAreDroppedAndMissingLinesCut) {
    SaneImageConverter longer;
    Feed(longer, Frame(SANE_FRAME_GRAY, 1, 1, 2, 8), {1, 2, 3, 4});
    EXPECT_EQ(longer.FrameBytesRead(), 2u);
    EXPECT_EQ(Convert(longer).header.biHeight, 2);

    SaneImageConverter shorter;
    Feed(shorter, Frame(SANE_FRAME_GRAY, 1, 1, 5, 8), {1, 2});
    EXPECT_EQ(Convert(shorter).header.biHeight, 2);

    // Three-pass frames of different lengths keep the lines all of them brought.
    SaneImageConverter uneven;
    Feed(uneven, Frame(SANE_FRAME_RED, 1, 1, -1, 8, false), {1, 2, 3});
    Feed(uneven, Frame(SANE_FRAME_GREEN, 1, 1, -1, 8, false), {1});
    Feed(uneven, Frame(SANE_FRAME_BLUE, 1, 1, -1, 8, true), {1, 2});
    EXPECT_EQ(Convert(uneven).header.biHeight, 1);
}

TEST(SaneImageConverter, FramesItCannotTakeAreRefusedWithAReason) {
    struct Case {
        const char* why;
        SANE_Parameters parameters;
    };
    const Case cases[] = {
        {"depth 4", Frame(SANE_FRAME_GRAY, 4, 2, 1, 4)},
        {"1-bit colour", Frame(SANE_FRAME_RGB, 8, 3, 1, 1)},
        {"unknown format", Frame(SANE_Frame(7), 4, 4, 1, 8)},
        {"short lines", Frame(SANE_FRAME_RGB, 4, 11, 1, 8)},
        {"no pixels", Frame(SANE_FRAME_GRAY, 0, 4, 1, 8)},
        {"negative lines", Frame(SANE_FRAME_GRAY, 4, 4, -2, 8)},
        {"grey not last", Frame(SANE_FRAME_GRAY, 4, 4, 1, 8, false)},
    };
    for (const Case& test : cases) {
        SaneImageConverter converter;
        std::string error;
        EXPECT_FALSE(converter.BeginFrame(test.parameters, &error)) << test.why;
        EXPECT_FALSE(error.empty()) << test.why;
    }

    SaneImageConverter twoReds;
    Feed(twoReds, Frame(SANE_FRAME_RED, 2, 2, 1, 8, false), {1, 2});
    std::string error;
    EXPECT_FALSE(twoReds.BeginFrame(Frame(SANE_FRAME_RED, 2, 2, 1, 8, false), &error));
    EXPECT_NE(error.find("two red"), std::string::npos) << error;
    EXPECT_FALSE(twoReds.BeginFrame(Frame(SANE_FRAME_GREEN, 3, 3, 1, 8, false), &error));
    EXPECT_FALSE(twoReds.BeginFrame(Frame(SANE_FRAME_GREEN, 2, 4, 1, 16, false), &error));
    EXPECT_FALSE(twoReds.BeginFrame(Frame(SANE_FRAME_GRAY, 2, 2, 1, 8, true), &error));

    SaneImageConverter afterLast;
    Feed(afterLast, Frame(SANE_FRAME_GRAY, 2, 2, 1, 8), {1, 2});
    EXPECT_FALSE(afterLast.BeginFrame(Frame(SANE_FRAME_GRAY, 2, 2, 1, 8), &error));
}

TEST(SaneImageConverter, APageWithoutItsColoursOrLinesMakesNoImage) {
    TW_IMAGEINFO info{};
    std::string error;
    SaneImageConverter nothing;
    EXPECT_EQ(nothing.MakeDib(100, &info, &error), nullptr);
    EXPECT_FALSE(error.empty());

    SaneImageConverter noBlue;
    Feed(noBlue, Frame(SANE_FRAME_RED, 1, 1, 1, 8, false), {1});
    Feed(noBlue, Frame(SANE_FRAME_GREEN, 1, 1, 1, 8, true), {1});
    EXPECT_EQ(noBlue.MakeDib(100, &info, &error), nullptr);
    EXPECT_NE(error.find("blue"), std::string::npos) << error;

    SaneImageConverter noLine;
    Feed(noLine, Frame(SANE_FRAME_GRAY, 4, 4, -1, 8), {1, 2, 3});
    EXPECT_EQ(noLine.MakeDib(100, &info, &error), nullptr);
    EXPECT_NE(error.find("no complete line"), std::string::npos) << error;

    // Reset forgets the page: the next one starts afresh.
    noLine.Reset();
    Feed(noLine, Frame(SANE_FRAME_GRAY, 1, 1, 1, 8), {7});
    EXPECT_EQ(Convert(noLine).Row(0)[0], 7);
}

}  // namespace
