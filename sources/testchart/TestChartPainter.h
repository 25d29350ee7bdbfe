// Paints one test-chart page row by row in 24-bit colour: a black frame, three lines
// of text (title; page number, pixel type and resolution; page size), eight colour
// bars, a smooth grey ramp, a 16-step grey wedge and fine lines. The back of a sheet
// is titled "BACK" and its text stands white on a black banner across the text band;
// the rest is the front's. Everything is integer arithmetic on the page's pixel size,
// so a page is the same on every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sources/testchart/TestChartSettings.h"

class TestChartPainter {
public:
    // pageNumber counts from 1; settings.pages is the number of pages in the batch.
    // The page is the whole bed: settings.area plays no part here.
    TestChartPainter(const TestChartSettings& settings, int pageNumber,
                     ChartSide side = ChartSide::Front);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const std::vector<std::string>& TextLines() const { return m_lines; }

    // Paints row y (0 is the top of the page) as blue, green, red bytes, 3 a pixel.
    void PaintRow(int y, uint8_t* bgr) const;

private:
    struct Band {
        int top = 0;
        int bottom = 0;  // exclusive
        bool Holds(int y) const { return y >= top && y < bottom; }
    };

    Band BandAt(int startPercent, int endPercent) const;
    void BuildTemplates();
    void PaintFineLines(int y, uint8_t* bgr) const;
    void PaintText(int y, uint8_t* bgr) const;
    void FillBlack(uint8_t* bgr, int from, int to) const { Fill(bgr, from, to, 0); }
    void Fill(uint8_t* bgr, int from, int to, uint8_t grey) const;

    int m_width;
    int m_height;
    int m_left = 0;  // the area inside the margin: [m_left, m_right) x [m_top, m_bottom)
    int m_right = 0;
    int m_top = 0;
    int m_bottom = 0;
    bool m_hasContent = false;
    bool m_back = false;
    Band m_textBand, m_barsBand, m_rampBand, m_wedgeBand, m_linesBand;
    std::vector<std::string> m_lines;
    int m_textScale = 1;
    // Whole rows painted once: blank page, colour bars, grey ramp, wedge, fine lines,
    // and the banner behind the text of a back.
    std::vector<uint8_t> m_blankRow, m_barsRow, m_rampRow, m_wedgeRow, m_linesRow, m_bannerRow;
};
