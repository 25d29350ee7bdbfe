#include "tests/e2e/ScreenImage.h"

#include <cstdio>

#include "dib/Dib.h"
#include "tests/ProgramRun.h"
#include "tests/e2e/ChartPages.h"

namespace velomark::e2e {

namespace {

constexpr const char* kImport = "/usr/bin/import";
constexpr int kProbeSteps = 12;

// Reads the next whitespace-separated number of a PPM header.
bool ReadHeaderNumber(const std::string& bytes, size_t& at, int& value) {
    while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    size_t digits = 0;
    value = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) && digits < 6) {
        value = value * 10 + (bytes[at++] - '0');
        ++digits;
    }
    return digits > 0;
}

}  // namespace

bool ScreenImage::Capture(const std::string& pngPath, std::string& error) {
    const testing::ProgramOutput shot =
        testing::RunProgram({kImport, "-window", "root", pngPath}, 30000);
    if (shot.exitCode != 0) {
        error = "import failed: " + shot.err;
        return false;
    }
    const testing::ProgramOutput ppm =
        testing::RunProgram({VELOMARK_CONVERT, pngPath, "-depth", "8", "ppm:-"}, 30000);
    if (ppm.exitCode != 0) {
        error = "convert failed: " + ppm.err;
        return false;
    }
    return ReadPpm(ppm.out, error);
}

bool ScreenImage::ReadPpm(const std::string& bytes, std::string& error) {
    size_t at = 2;
    int maxValue = 0;
    if (bytes.compare(0, 2, "P6") != 0 || !ReadHeaderNumber(bytes, at, m_width) ||
        !ReadHeaderNumber(bytes, at, m_height) || !ReadHeaderNumber(bytes, at, maxValue) ||
        maxValue != 255 || m_width <= 0 || m_height <= 0) {
        error = "not an 8-bit PPM image";
        return false;
    }
    ++at;  // the one whitespace byte before the pixels
    const size_t size = static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 3;
    if (bytes.size() < at + size) {
        error = "the PPM image is cut short";
        return false;
    }
    m_rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
    return true;
}

uint32_t ScreenImage::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0xFFFFFFFF;
    const uint8_t* p = &m_rgb[(static_cast<size_t>(y) * m_width + x) * 3];
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

std::optional<ScreenPoint> ScreenImage::Find(const CDIB& image, int minimumY) const {
    const int width = image.m_nWidth;
    const int height = image.m_nHeight;
    if (width <= 0 || height <= 0 || width > m_width || height > m_height) return std::nullopt;
    // A grid of probes rules out almost every place after one or two of them.
    struct Probe {
        int x, y;
        uint32_t colour;
    };
    std::vector<Probe> probes;
    for (int j = 0; j <= kProbeSteps; ++j)
        for (int i = 0; i <= kProbeSteps; ++i) {
            const int x = (width - 1) * i / kProbeSteps;
            const int y = (height - 1) * j / kProbeSteps;
            probes.push_back({x, y, ColourAt(image, x, y)});
        }
    for (int top = std::max(0, minimumY); top + height <= m_height; ++top)
        for (int left = 0; left + width <= m_width; ++left) {
            bool matches = true;
            for (const Probe& probe : probes)
                if (Pixel(left + probe.x, top + probe.y) != probe.colour) {
                    matches = false;
                    break;
                }
            if (matches && CountDifferences(image, {left, top}) == 0) return ScreenPoint{left, top};
        }
    return std::nullopt;
}

int ScreenImage::CountDifferences(const CDIB& image, ScreenPoint origin) const {
    int differences = 0;
    for (int y = 0; y < image.m_nHeight; ++y)
        for (int x = 0; x < image.m_nWidth; ++x)
            differences += Pixel(origin.x + x, origin.y + y) != ColourAt(image, x, y);
    return differences;
}

}  // namespace velomark::e2e
