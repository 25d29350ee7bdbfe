// Turns a painted 24-bit row into a DIB row of the chosen pixel type, through tables:
// 1-bit black and white (ordered dither, so the grey ramp stays visible), 4-bit and
// 8-bit grey, an 8-bit palette (6x6x6 colour cube and 40 more greys) or 24-bit colour.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"
#include "sources/testchart/TestChartSettings.h"

class TestChartRowPacker {
public:
    static constexpr int kCubeColours = 216;

    explicit TestChartRowPacker(ChartPixelType type);

    int BitsPerPixel() const;
    // Colour-table entries: 2, 16 or 256; 0 for 24-bit colour.
    int TableSize() const;
    void FillColourTable(RGBQUAD* table) const;

    // Packs `width` blue-green-red pixels into (width * BitsPerPixel() + 7) / 8 bytes.
    // (left, y) is the place of the first pixel on the whole page, which the dither
    // depends on: a piece of a row packs as the same pixels of the whole row do.
    void PackRow(const uint8_t* bgr, int width, int left, int y, uint8_t* out) const;

    // The grey a colour is drawn as, weighted as the eye weighs the three channels.
    static uint8_t Luminance(uint8_t red, uint8_t green, uint8_t blue);
    // The palette entry a colour is drawn as.
    uint8_t PaletteIndex(uint8_t red, uint8_t green, uint8_t blue) const;
    // The value of palette grey number `extra` (0 to 39), entry kCubeColours + extra.
    static uint8_t ExtraGrey(int extra);

private:
    void PackBlackWhite(const uint8_t* bgr, int width, int left, int y, uint8_t* out) const;
    void PackGray4(const uint8_t* bgr, int width, uint8_t* out) const;

    ChartPixelType m_type;
    uint8_t m_cubeLevel[256];      // channel value -> nearest of the six cube levels
    uint8_t m_greyToPalette[256];  // grey value -> nearest grey entry of the palette
};
