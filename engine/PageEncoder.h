// One page, a packed 24-bit DIB as the engine hands it on, encoded as a network
// client asked: PNG (libpng), JPEG (libjpeg-turbo) or a one-page PDF (cairo) of the
// page's physical size. Grey pages are written with one channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dib/PackedDib.h"
#include "engine/EsclSettings.h"

namespace velomark {

class PageEncoder {
public:
    // Reads the DIB where it lies; Valid() is false for a block that is not a whole
    // uncompressed 24-bit DIB. The block must outlive the encoder.
    explicit PageEncoder(const std::vector<unsigned char>& packed);

    bool Valid() const { return m_valid; }
    int Width() const { return m_dib.width; }
    int Height() const { return m_dib.height; }

    // The encoded file; false when the encoder failed. `dpi` gives a PDF page its size.
    bool Encode(PageFormat format, bool gray, int dpi, std::string* out) const;

private:
    // Row y from the top, RGB or one grey byte a pixel, unpadded.
    void ConvertRow(int y, bool gray, unsigned char* out) const;
    // Every row so, top-down.
    std::vector<unsigned char> Rows(bool gray) const;
    bool EncodePng(bool gray, int dpi, std::string* out) const;
    bool EncodeJpeg(bool gray, std::string* out) const;
    bool EncodePdf(bool gray, int dpi, std::string* out) const;

    PackedDib m_dib;
    bool m_valid = false;
};

}  // namespace velomark
