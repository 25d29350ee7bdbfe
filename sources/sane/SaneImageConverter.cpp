#include "sources/sane/SaneImageConverter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/WinTypes.h"
#include "sources/common/PackedDibHeader.h"

namespace {

// The byte of a 16-bit sample that holds its high half, in the machine's byte order.
constexpr size_t kHighByte = std::endian::native == std::endian::little ? 1 : 0;

bool IsSingleColour(SANE_Frame format) {
    return format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE;
}

// Bytes the pixels of one line need, without the device's padding.
size_t LineBytes(const SANE_Parameters& p) {
    const size_t samples = size_t(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1);
    return (samples * size_t(p.depth) + 7) / 8;
}

const char* ColourName(int colour) {
    static const char* const names[] = {"red", "green", "blue"};
    return names[colour];
}

TW_FIX32 ToFix32(double value) {
    value = std::clamp(value, 0.0, 32767.0);
    const double whole = std::floor(value);
    double frac = std::round((value - whole) * 65536.0);
    TW_FIX32 fix{static_cast<TW_INT16>(whole), 0};
    if (frac >= 65536.0) {
        ++fix.Whole;
        frac = 0;
    }
    fix.Frac = static_cast<TW_UINT16>(frac);
    return fix;
}

// One grey line into one DIB row of `used` bytes; the rest of the row is zeroed.
void GreyRow(int depth, size_t width, const uint8_t* __restrict in, uint8_t* __restrict out,
             size_t stride) {
    size_t used = width;
    if (depth == 8) {
        std::memcpy(out, in, width);
    } else if (depth == 16) {
        for (size_t x = 0; x < width; ++x) out[x] = in[2 * x + kHighByte];
    } else {
        // SANE's 1 is black, the table's entry 1 white; bits past the pixels stay zero.
        used = (width + 7) / 8;
        for (size_t i = 0; i < used; ++i) out[i] = uint8_t(~in[i]);
        if (width % 8) out[used - 1] &= uint8_t(0xff << (8 - width % 8));
    }
    std::memset(out + used, 0, stride - used);
}

#if defined(__x86_64__)
// Red and blue swapped four pixels at a time with one byte shuffle. Each step loads
// and stores 16 bytes for 12: the 4 bytes past the step are rewritten by the next
// step or by the caller's tail, and no step reads or writes past the line's pixels.
// Returns the pixels done.
__attribute__((target("ssse3"))) size_t SwapRedBlueSsse3(size_t width, const uint8_t* in,
                                                          uint8_t* out) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    size_t x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x),
                         _mm_shuffle_epi8(pixels, order));
    }
    return x;
}

size_t SwapRedBlueFast(size_t width, const uint8_t* in, uint8_t* out) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    return ssse3 ? SwapRedBlueSsse3(width, in, out) : 0;
}
#else
size_t SwapRedBlueFast(size_t, const uint8_t*, uint8_t*) { return 0; }
#endif

// One RGB line into blue-green-red.
void ColourRow(bool wide, size_t width, const uint8_t* __restrict in, uint8_t* __restrict out,
               size_t stride) {
    if (wide) {
        for (size_t x = 0; x < width; ++x) {
            out[3 * x] = in[6 * x + 4 + kHighByte];
            out[3 * x + 1] = in[6 * x + 2 + kHighByte];
            out[3 * x + 2] = in[6 * x + kHighByte];
        }
    } else {
        for (size_t x = SwapRedBlueFast(width, in, out); x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    std::memset(out + width * 3, 0, stride - width * 3);
}

}  // namespace

SaneImageConverter::~SaneImageConverter() { FreeStream(); }

bool SaneImageConverter::BeginFrame(const SANE_Parameters& p, std::string* error) {
    const auto refuse = [&](const std::string& why) {
        *error = why;
        return false;
    };
    if (m_lastFrameBegun) return refuse("the device sent a frame after the last one");
    if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !IsSingleColour(p.format))
        return refuse("unknown frame format " + std::to_string(int(p.format)));
    if (p.depth != 1 && p.depth != 8 && p.depth != 16)
        return refuse("unsupported sample depth " + std::to_string(p.depth));
    if (p.depth == 1 && p.format != SANE_FRAME_GRAY)
        return refuse("1-bit colour frames are not supported");
    if (p.pixels_per_line <= 0 || p.bytes_per_line <= 0 || p.lines < -1)
        return refuse("the device described an empty or negative frame");
    if (size_t(p.bytes_per_line) < LineBytes(p))
        return refuse("the device's lines are shorter than their pixels");
    if (m_frames.empty()) {
        if (!IsSingleColour(p.format) && !p.last_frame)
            return refuse("a grey or RGB frame that is not the page's last");
    } else {
        const SANE_Parameters& first = m_frames.front().parameters;
        if (!IsSingleColour(p.format) || !IsSingleColour(first.format))
            return refuse("a page mixes single-colour and whole frames");
        if (ColourFrame(p.format - SANE_FRAME_RED))
            return refuse(std::string("the page has two ") + ColourName(p.format - SANE_FRAME_RED) +
                          " frames");
        if (p.pixels_per_line != first.pixels_per_line || p.depth != first.depth)
            return refuse("the frames of one page differ in width or depth");
    }
    m_frames.push_back({p, {}, 0});
    m_lastFrameBegun = p.last_frame != 0;
    if (!IsSingleColour(p.format) && p.lines > 0) StartStream();
    Frame& frame = m_frames.back();
    if (!m_stream && p.lines > 0) {
        const size_t expected = size_t(p.lines) * size_t(p.bytes_per_line);
        if (expected <= kMaxDibBytes) frame.data.reserve(expected);
    }
    return true;
}

size_t SaneImageConverter::ExpectedFrameBytes() const {
    if (m_frames.empty()) return 0;
    const SANE_Parameters& p = m_frames.back().parameters;
    return p.lines < 0 ? 0 : size_t(p.lines) * size_t(p.bytes_per_line);
}

void SaneImageConverter::Append(const uint8_t* data, size_t bytes) {
    if (m_frames.empty() || bytes == 0) return;
    Frame& frame = m_frames.back();
    // Bytes past the announced lines, or past what any page may hold, are dropped.
    size_t limit = kMaxDibBytes * 3;
    if (frame.parameters.lines >= 0) limit = ExpectedFrameBytes();
    if (frame.bytesRead >= limit) return;
    bytes = std::min(bytes, limit - frame.bytesRead);
    frame.bytesRead += bytes;
    if (!m_stream) {
        frame.data.insert(frame.data.end(), data, data + bytes);
        return;
    }
    const size_t lineBytes = size_t(frame.parameters.bytes_per_line);
    if (!m_partialRow.empty()) {
        const size_t taken = std::min(lineBytes - m_partialRow.size(), bytes);
        m_partialRow.insert(m_partialRow.end(), data, data + taken);
        data += taken;
        bytes -= taken;
        if (m_partialRow.size() < lineBytes) return;
        StreamRow(m_partialRow.data());
        m_partialRow.clear();
    }
    for (; bytes >= lineBytes; data += lineBytes, bytes -= lineBytes) StreamRow(data);
    m_partialRow.assign(data, data + bytes);
}

void SaneImageConverter::Reset() {
    FreeStream();
    m_frames.clear();
    m_lastFrameBegun = false;
}

bool SaneImageConverter::IsColour() const {
    return !m_frames.empty() && m_frames.front().parameters.format != SANE_FRAME_GRAY;
}

const SaneImageConverter::Frame* SaneImageConverter::ColourFrame(int colour) const {
    for (const Frame& frame : m_frames)
        if (frame.parameters.format == SANE_FRAME_RED + colour) return &frame;
    return nullptr;
}

int SaneImageConverter::RowsAvailable() const {
    size_t rows = std::numeric_limits<int>::max();
    for (const Frame& frame : m_frames) {
        size_t frameRows = frame.data.size() / size_t(frame.parameters.bytes_per_line);
        if (frame.parameters.lines >= 0)
            frameRows = std::min(frameRows, size_t(frame.parameters.lines));
        rows = std::min(rows, frameRows);
    }
    return static_cast<int>(rows);
}

SaneImageConverter::Layout SaneImageConverter::PageLayout() const {
    const SANE_Parameters& first = m_frames.front().parameters;
    Layout layout;
    layout.colour = IsColour();
    layout.bitsPerPixel = layout.colour ? 24 : first.depth == 1 ? 1 : 8;
    layout.width = size_t(first.pixels_per_line);
    layout.stride = PackedDibStride(layout.width, layout.bitsPerPixel);
    const size_t tableEntries = layout.bitsPerPixel == 24 ? 0 : size_t(1) << layout.bitsPerPixel;
    layout.headerBytes = PackedDibHeaderBytes(tableEntries);
    return layout;
}

HGLOBAL SaneImageConverter::AllocateDib(const Layout& layout, int rows, std::string* error) {
    if (layout.stride > (kMaxDibBytes - layout.headerBytes) / size_t(rows)) {
        *error = "the page is too large for one image";
        return nullptr;
    }
    return GlobalAlloc(GMEM_MOVEABLE, layout.headerBytes + layout.stride * size_t(rows));
}

void SaneImageConverter::WriteHeader(const Layout& layout, int rows, double dpi, uint8_t* block) {
    // A grey ramp: black and white for 1 bit.
    const size_t tableEntries = (layout.headerBytes - sizeof(BITMAPINFOHEADER)) / sizeof(RGBQUAD);
    std::vector<RGBQUAD> table(tableEntries);
    for (size_t i = 0; i < tableEntries; ++i) {
        const BYTE level = tableEntries == 2 ? BYTE(i * 255) : BYTE(i);
        table[i] = RGBQUAD{level, level, level, 0};
    }
    WritePackedDibHeader(block, layout.width, rows, layout.bitsPerPixel, dpi, table.data(),
                         tableEntries);
}

void SaneImageConverter::DescribeImage(const Layout& layout, int rows, double dpi,
                                       TW_IMAGEINFO* info) {
    *info = TW_IMAGEINFO{};
    info->XResolution = info->YResolution = ToFix32(dpi);
    info->ImageWidth = static_cast<TW_INT32>(layout.width);
    info->ImageLength = rows;
    info->SamplesPerPixel = layout.colour ? 3 : 1;
    for (int sample = 0; sample < info->SamplesPerPixel; ++sample)
        info->BitsPerSample[sample] = static_cast<TW_INT16>(layout.bitsPerPixel == 1 ? 1 : 8);
    info->BitsPerPixel = static_cast<TW_INT16>(layout.bitsPerPixel);
    info->Planar = FALSE;
    info->PixelType = layout.colour ? TWPT_RGB : layout.bitsPerPixel == 1 ? TWPT_BW : TWPT_GRAY;
    info->Compression = TWCP_NONE;
}

void SaneImageConverter::StartStream() {
    m_streamLayout = PageLayout();
    std::string tooLarge;
    m_stream = AllocateDib(m_streamLayout, m_frames.back().parameters.lines, &tooLarge);
    // Without a block the page is kept as read, and MakeDib says why it cannot be made.
    m_streamBytes = m_stream ? static_cast<uint8_t*>(GlobalLock(m_stream)) : nullptr;
    m_streamRows = 0;
    m_partialRow.clear();
}

void SaneImageConverter::StreamRow(const uint8_t* in) {
    const SANE_Parameters& p = m_frames.front().parameters;
    const Layout& layout = m_streamLayout;
    uint8_t* out =
        m_streamBytes + layout.headerBytes + size_t(p.lines - 1 - m_streamRows) * layout.stride;
    if (layout.colour)
        ColourRow(p.depth == 16, layout.width, in, out, layout.stride);
    else
        GreyRow(p.depth, layout.width, in, out, layout.stride);
    ++m_streamRows;
}

HGLOBAL SaneImageConverter::FinishStream(double dpi, TW_IMAGEINFO* info, std::string* error) {
    const int lines = m_frames.front().parameters.lines;
    const int rows = m_streamRows;
    if (rows <= 0) {
        *error = "the device sent no complete line";
        return nullptr;
    }
    HGLOBAL block = m_stream;
    uint8_t* bytes = m_streamBytes;
    const Layout& layout = m_streamLayout;
    if (rows < lines) {
        // Fewer lines came than announced: the rows that came are the block's last.
        HGLOBAL shorter =
            GlobalAlloc(GMEM_MOVEABLE, layout.headerBytes + layout.stride * size_t(rows));
        if (!shorter) return nullptr;
        auto* shorterBytes = static_cast<uint8_t*>(GlobalLock(shorter));
        std::memcpy(shorterBytes + layout.headerBytes,
                    bytes + layout.headerBytes + size_t(lines - rows) * layout.stride,
                    size_t(rows) * layout.stride);
        FreeStream();
        block = shorter;
        bytes = shorterBytes;
    }
    WriteHeader(layout, rows, dpi, bytes);
    GlobalUnlock(block);
    DescribeImage(layout, rows, dpi, info);
    m_stream = nullptr;
    m_streamBytes = nullptr;
    return block;
}

void SaneImageConverter::FreeStream() {
    if (!m_stream) return;
    GlobalUnlock(m_stream);
    GlobalFree(m_stream);
    m_stream = nullptr;
    m_streamBytes = nullptr;
}

HGLOBAL SaneImageConverter::MakeDib(double dpi, TW_IMAGEINFO* info, std::string* error) {
    error->clear();
    if (m_frames.empty()) {
        *error = "the device sent no frame";
        return nullptr;
    }
    if (m_stream) return FinishStream(dpi, info, error);
    const SANE_Parameters& first = m_frames.front().parameters;
    if (IsSingleColour(first.format)) {
        for (int colour = 0; colour < 3; ++colour) {
            if (!ColourFrame(colour)) {
                *error = std::string("the page lacks its ") + ColourName(colour) + " frame";
                return nullptr;
            }
        }
    }
    const int rows = RowsAvailable();
    if (rows <= 0) {
        *error = "the device sent no complete line";
        return nullptr;
    }
    const Layout layout = PageLayout();
    HGLOBAL block = AllocateDib(layout, rows, error);
    if (!block) return nullptr;
    auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
    WriteHeader(layout, rows, dpi, bytes);
    WriteKeptRows(bytes + layout.headerBytes, layout.stride, rows);
    GlobalUnlock(block);
    DescribeImage(layout, rows, dpi, info);
    return block;
}

void SaneImageConverter::WriteKeptRows(uint8_t* pixels, size_t stride, int rows) const {
    const SANE_Parameters& p = m_frames.front().parameters;
    const size_t width = size_t(p.pixels_per_line);
    if (p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB) {
        const Frame& frame = m_frames.front();
        for (int y = 0; y < rows; ++y) {
            const uint8_t* in = frame.data.data() + size_t(y) * size_t(p.bytes_per_line);
            uint8_t* out = pixels + size_t(rows - 1 - y) * stride;
            if (p.format == SANE_FRAME_RGB)
                ColourRow(p.depth == 16, width, in, out, stride);
            else
                GreyRow(p.depth, width, in, out, stride);
        }
        return;
    }
    // Three frames, one colour each, into blue-green-red.
    const bool wide = p.depth == 16;
    const Frame* planes[3] = {ColourFrame(0), ColourFrame(1), ColourFrame(2)};
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = pixels + size_t(rows - 1 - y) * stride;
        for (int colour = 0; colour < 3; ++colour) {
            const Frame& plane = *planes[colour];
            const uint8_t* in =
                plane.data.data() + size_t(y) * size_t(plane.parameters.bytes_per_line);
            uint8_t* target = out + (2 - colour);  // blue first in a DIB row
            if (wide) {
                for (size_t x = 0; x < width; ++x) target[3 * x] = in[2 * x + kHighByte];
            } else {
                for (size_t x = 0; x < width; ++x) target[3 * x] = in[x];
            }
        }
        std::memset(out + width * 3, 0, stride - width * 3);
    }
}
