// Frames a SANE backend delivers: up to four frames, each with parameters taken
// from the input (any format, depth and sizes, within a few thousand pixels so a
// run stays quick) and its bytes in pieces of the input's choosing; then the page.
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "sources/sane/SaneImageConverter.h"

namespace {

// Small signed values: negative and zero sizes stay reachable.
SANE_Int SmallInt(FuzzInput& input) { return input.Take<int16_t>() % 4096; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    SaneImageConverter converter;
    std::string error;
    const int frames = input.Take<uint8_t>() % 4 + 1;
    for (int f = 0; f < frames; ++f) {
        SANE_Parameters parameters{};
        parameters.format = static_cast<SANE_Frame>(input.Take<uint8_t>() % 6);
        parameters.last_frame = input.Take<uint8_t>() & 1;
        parameters.bytes_per_line = SmallInt(input);
        parameters.pixels_per_line = SmallInt(input);
        parameters.lines = SmallInt(input);
        parameters.depth = input.Take<uint8_t>() % 20;
        if (!converter.BeginFrame(parameters, &error)) return 0;
        for (int pieces = input.Take<uint8_t>() % 8; pieces > 0; --pieces) {
            size_t n = 0;
            const uint8_t* bytes = input.Bytes(input.Take<uint16_t>(), &n);
            converter.Append(bytes, n);
        }
        if (converter.LastFrameBegun()) break;
    }
    TW_IMAGEINFO info{};
    HGLOBAL dib = converter.MakeDib(input.Take<uint8_t>(), &info, &error);
    if (dib) GlobalFree(dib);
    return 0;
}
