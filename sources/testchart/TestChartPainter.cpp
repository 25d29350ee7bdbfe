#include "sources/testchart/TestChartPainter.h"

#include <algorithm>
#include <cstring>

#include "sources/testchart/TestChartFont.h"

namespace {

struct Colour {
    uint8_t red, green, blue;
};

// Full-strength bars in the usual order of falling brightness.
constexpr Colour kBarColours[8] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};

constexpr int kWedgeSteps = 16;
constexpr int kLineColumns = 4;
constexpr int kDiagonalSpacing = 8;

void SetPixel(uint8_t* bgr, int x, Colour c) {
    bgr[3 * x] = c.blue;
    bgr[3 * x + 1] = c.green;
    bgr[3 * x + 2] = c.red;
}

void SetGrey(uint8_t* bgr, int x, uint8_t v) { SetPixel(bgr, x, Colour{v, v, v}); }

}  // namespace

TestChartPainter::TestChartPainter(const TestChartSettings& settings, int pageNumber,
                                   ChartSide side)
    : m_width(settings.PixelWidth()),
      m_height(settings.PixelHeight()),
      m_back(side == ChartSide::Back) {
    m_lines.push_back(m_back ? "BACK" : "VELOMARK TEST CHART");
    m_lines.push_back("PAGE " + std::to_string(pageNumber) + "/" + std::to_string(settings.pages) +
                      " " + settings.PixelTypeName() + " " + std::to_string(settings.dpi) + " DPI");
    const std::string pixels = std::to_string(m_width) + "X" + std::to_string(m_height);
    m_lines.push_back(settings.pageSize == ChartPageSize::Custom
                          ? "CUSTOM " + pixels
                          : settings.PageSizeName() + " " + pixels);

    const int margin = std::max(1, std::min(m_width, m_height) / 25);
    m_left = margin;
    m_right = m_width - margin;
    m_top = margin;
    m_bottom = m_height - margin;
    // Pages too small for bars and text are a white page in a black frame.
    m_hasContent = m_right - m_left >= kWedgeSteps && m_bottom - m_top >= 16;
    if (m_hasContent) {
        m_textBand = BandAt(0, 24);
        m_barsBand = BandAt(28, 48);
        m_rampBand = BandAt(52, 62);
        m_wedgeBand = BandAt(62, 72);
        m_linesBand = BandAt(76, 100);
        size_t longest = 1;
        for (const std::string& line : m_lines) longest = std::max(longest, line.size());
        const int byWidth = (m_right - m_left) / (TestChartFont::kAdvance * int(longest));
        const int byHeight = (m_textBand.bottom - m_textBand.top) /
                             (TestChartFont::kLineHeight * int(m_lines.size()));
        m_textScale = std::max(1, std::min(byWidth, byHeight));
    }
    BuildTemplates();
}

TestChartPainter::Band TestChartPainter::BandAt(int startPercent, int endPercent) const {
    const int64_t height = m_bottom - m_top;
    return Band{m_top + int(height * startPercent / 100), m_top + int(height * endPercent / 100)};
}

void TestChartPainter::BuildTemplates() {
    const size_t rowBytes = size_t(m_width) * 3;
    m_blankRow.assign(rowBytes, 255);
    FillBlack(m_blankRow.data(), 0, 1);
    FillBlack(m_blankRow.data(), m_width - 1, m_width);
    if (!m_hasContent) return;

    const int64_t inner = m_right - m_left;
    m_barsRow = m_rampRow = m_wedgeRow = m_linesRow = m_bannerRow = m_blankRow;
    FillBlack(m_bannerRow.data(), m_left, m_right);
    for (int x = m_left; x < m_right; ++x) {
        const int64_t offset = x - m_left;
        SetPixel(m_barsRow.data(), x, kBarColours[offset * 8 / inner]);
        SetGrey(m_rampRow.data(), x, uint8_t(offset * 255 / std::max<int64_t>(1, inner - 1)));
        SetGrey(m_wedgeRow.data(), x, uint8_t(offset * kWedgeSteps / inner * 17));
        // Vertical lines one pixel wide in the first column, two pixels wide in the second.
        const int64_t column = offset * kLineColumns / inner;
        if ((column == 0 && offset % 2 == 0) || (column == 1 && offset / 2 % 2 == 0))
            SetGrey(m_linesRow.data(), x, 0);
    }
}

void TestChartPainter::Fill(uint8_t* bgr, int from, int to, uint8_t grey) const {
    from = std::max(from, 0);
    to = std::min(to, m_width);
    if (from < to) std::memset(bgr + 3 * size_t(from), grey, 3 * size_t(to - from));
}

void TestChartPainter::PaintRow(int y, uint8_t* bgr) const {
    const size_t rowBytes = size_t(m_width) * 3;
    if (y <= 0 || y >= m_height - 1) {
        std::memset(bgr, 0, rowBytes);
        return;
    }
    const std::vector<uint8_t>* source = &m_blankRow;
    if (m_barsBand.Holds(y))
        source = &m_barsRow;
    else if (m_rampBand.Holds(y))
        source = &m_rampRow;
    else if (m_wedgeBand.Holds(y))
        source = &m_wedgeRow;
    else if (m_linesBand.Holds(y))
        source = &m_linesRow;
    else if (m_back && m_textBand.Holds(y))
        source = &m_bannerRow;
    std::memcpy(bgr, source->data(), rowBytes);
    if (m_linesBand.Holds(y)) PaintFineLines(y, bgr);
    if (m_textBand.Holds(y)) PaintText(y, bgr);
}

// The third column has horizontal lines one pixel apart; the fourth has diagonals
// falling to the right, which show a page that was flipped or turned.
void TestChartPainter::PaintFineLines(int y, uint8_t* bgr) const {
    const int64_t inner = m_right - m_left;
    const int thirdStart = m_left + int((inner * 2 + kLineColumns - 1) / kLineColumns);
    const int fourthStart = m_left + int((inner * 3 + kLineColumns - 1) / kLineColumns);
    const int row = y - m_linesBand.top;
    if (row % 2 == 0) FillBlack(bgr, thirdStart, fourthStart);
    for (int x = fourthStart + row % kDiagonalSpacing; x < m_right; x += kDiagonalSpacing)
        FillBlack(bgr, x, x + 1);
}

void TestChartPainter::PaintText(int y, uint8_t* bgr) const {
    const int scale = m_textScale;
    const uint8_t ink = m_back ? 255 : 0;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const std::string& text = m_lines[i];
        const int lineTop = m_textBand.top + int(i) * TestChartFont::kLineHeight * scale;
        if (y < lineTop) continue;
        const int glyphRow = (y - lineTop) / scale;
        if (glyphRow >= TestChartFont::kGlyphHeight) continue;
        const int textWidth = (int(text.size()) * TestChartFont::kAdvance - 1) * scale;
        const int left = m_left + std::max(0, (m_right - m_left - textWidth) / 2);
        for (size_t c = 0; c < text.size(); ++c) {
            const uint8_t bits = TestChartFont::Glyph(text[c])[glyphRow];
            for (int col = 0; col < TestChartFont::kGlyphWidth; ++col) {
                if (!(bits & (0x10 >> col))) continue;
                const int x = left + (int(c) * TestChartFont::kAdvance + col) * scale;
                Fill(bgr, std::max(x, m_left), std::min(x + scale, m_right), ink);
            }
        }
    }
}
