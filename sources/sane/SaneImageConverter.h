// Turns the frames SANE delivers for one page into the packed DIB of a native
// transfer: a 40-byte BITMAPINFOHEADER, the colour table and the rows bottom-up, each
// padded to 4 bytes. 1-bit grey (SANE's 1 is black) becomes a 1-bit DIB with a black
// and white table, 8 and 16-bit grey an 8-bit DIB with a grey ramp, colour (one RGB
// frame or three single-colour frames) a 24-bit DIB; 16-bit samples, in the machine's
// byte order, keep their high byte. Lines padded past the pixels and an unknown line
// count (lines == -1: the rows are counted from the bytes) are taken.
//
// A one-frame page of known length is converted as its bytes come, row by row
// straight into the DIB's block, while they are still in the cache; other pages
// (three frames, unknown length) are kept as read and converted at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"
#include "sources/sane/SaneApi.h"
#include "twain/TwainTypes.h"

class SaneImageConverter {
public:
    SaneImageConverter() = default;
    ~SaneImageConverter();  // frees a block still being filled
    SaneImageConverter(const SaneImageConverter&) = delete;
    SaneImageConverter& operator=(const SaneImageConverter&) = delete;

    // Begins the next frame of the page, described as sane_get_parameters gives it
    // after sane_start. False, with the reason in *error, for a frame this class cannot
    // take or one that does not fit the frames before it; the page is then dropped.
    bool BeginFrame(const SANE_Parameters& parameters, std::string* error);
    // Bytes read for the current frame.
    void Append(const uint8_t* data, size_t bytes);
    // True once the frame marked last_frame has begun (its bytes may still be coming).
    bool LastFrameBegun() const { return m_lastFrameBegun; }
    // Bytes the current frame should bring; 0 when its line count is unknown.
    size_t ExpectedFrameBytes() const;
    size_t FrameBytesRead() const { return m_frames.empty() ? 0 : m_frames.back().bytesRead; }
    int FrameCount() const { return static_cast<int>(m_frames.size()); }

    // The page as a packed DIB in a new block that the caller frees, and its
    // description with `dpi` as the resolution. Only whole rows that every frame
    // delivered are kept. Null, with the reason in *error, when no row came, a colour
    // is missing, or the page is too large; null with an empty error when memory is short.
    // The block is handed over: a second call makes none.
    HGLOBAL MakeDib(double dpi, TW_IMAGEINFO* info, std::string* error);

    // Forgets every frame: ready for the next page.
    void Reset();

    // The largest DIB this class makes (the header's sizes are 32-bit).
    static constexpr size_t kMaxDibBytes = size_t{1} << 31;

private:
    struct Frame {
        SANE_Parameters parameters;
        std::vector<uint8_t> data;  // as read, unless the page is converted as it comes
        size_t bytesRead = 0;
    };
    // How the page's DIB is laid out.
    struct Layout {
        bool colour = false;
        int bitsPerPixel = 0;
        size_t width = 0;
        size_t stride = 0;
        size_t headerBytes = 0;  // the info header and the colour table
    };

    Layout PageLayout() const;
    // The block for `rows` rows with its colour table; null when the page is too large
    // (*error says so) or memory is short.
    static HGLOBAL AllocateDib(const Layout& layout, int rows, std::string* error);
    static void WriteHeader(const Layout& layout, int rows, double dpi, uint8_t* block);
    static void DescribeImage(const Layout& layout, int rows, double dpi, TW_IMAGEINFO* info);
    void StartStream();
    void StreamRow(const uint8_t* in);
    HGLOBAL FinishStream(double dpi, TW_IMAGEINFO* info, std::string* error);
    void FreeStream();
    bool IsColour() const;
    int RowsAvailable() const;
    void WriteKeptRows(uint8_t* pixels, size_t stride, int rows) const;
    // The frame holding one colour (0 red, 1 green, 2 blue) of a three-pass page.
    const Frame* ColourFrame(int colour) const;

    std::vector<Frame> m_frames;
    bool m_lastFrameBegun = false;
    // The page converted as it comes: its block (locked), rows done, a row begun.
    HGLOBAL m_stream = nullptr;
    uint8_t* m_streamBytes = nullptr;
    Layout m_streamLayout;
    int m_streamRows = 0;
    std::vector<uint8_t> m_partialRow;
};
