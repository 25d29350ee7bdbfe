// A screenshot of the whole X screen (ImageMagick's import), read back as RGB pixels
// so that tests can look for an image on the screen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CDIB;

namespace velomark::e2e {

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

class ScreenImage {
public:
    // Takes the screenshot into pngPath and reads it; false (with `error`) on failure.
    bool Capture(const std::string& pngPath, std::string& error);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // The colour at (x, y) as a COLORREF: red in the low byte, then green, then blue.
    uint32_t Pixel(int x, int y) const;

    // Where the whole image shows, pixel for pixel, with its top-left corner at or
    // below `minimumY`; the topmost, then leftmost such place.
    std::optional<ScreenPoint> Find(const CDIB& image, int minimumY = 0) const;
    // Pixels of the image that differ from the screen when its corner is at `origin`.
    int CountDifferences(const CDIB& image, ScreenPoint origin) const;

private:
    bool ReadPpm(const std::string& bytes, std::string& error);

    int m_width = 0;
    int m_height = 0;
    std::vector<uint8_t> m_rgb;
};

}  // namespace velomark::e2e
