// A 5x7 bitmap font for the words written on a test-chart page: digits, capital
// letters, space and a little punctuation. Built in, so that pages are the same on
// every machine whatever fonts are installed.
#pragma once

#include <cstdint>

class TestChartFont {
public:
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 7;
    static constexpr int kAdvance = 6;     // glyph and one blank column
    static constexpr int kLineHeight = 9;  // glyph and two blank rows

    // The glyph's rows, top first; bit 4 is the leftmost column. Lowercase letters are
    // drawn as capitals; a character without a glyph is drawn as '?'.
    static const uint8_t* Glyph(char c);
};
