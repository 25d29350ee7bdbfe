// One page, a packed 24-bit DIB as the engine hands it on, encoded as a network
// client asked: PNG (libpng), JPEG (libjpeg-turbo) or a one-page PDF (cairo) of the
// page's physical size. Grey pages are written with one channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/EsclSettings.h"

namespace velomark {

class PageEncoder {
public:
    // Reads the DIB's header; Valid() is false for a block that is not a whole
    // uncompressed 24-bit DIB.
    explicit PageEncoder(const std::vector<unsigned char>& packed);

    bool Valid() const { return m_valid; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The encoded file; false when the encoder failed. `dpi` gives a PDF page its size.
    bool Encode(PageFormat format, bool gray, int dpi, std::string* out) const;

private:
    // The pixels top-down, RGB or one grey byte each, rows unpadded.
    std::vector<unsigned char> Rows(bool gray) const;
    bool EncodePng(bool gray, int dpi, std::string* out) const;
    bool EncodeJpeg(bool gray, std::string* out) const;
    bool EncodePdf(bool gray, int dpi, std::string* out) const;

    const std::vector<unsigned char>& m_packed;
    bool m_valid = false;
    int m_width = 0;
    int m_height = 0;
    bool m_bottomUp = true;
    size_t m_bitsOffset = 0;
    size_t m_stride = 0;
};

}  // namespace velomark
