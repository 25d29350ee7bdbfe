// 1, 4 and 8-bit images expanded to 24 bits: each pixel looked up in a
// blue-green-red table built once from the colour table, one store per pixel, the
// rows' padding zeroed.
#pragma once

class CDIB;
struct PackedDib;

namespace velomark {

// A new 24-bit image of the source's size. False, leaving the target empty, for any
// other bit count.
bool ExpandTo24(const CDIB& source, CDIB& target);
// The same from a packed DIB where it lies, with no copy of it first; missing entries
// of a short colour table are black.
bool ExpandTo24(const PackedDib& source, CDIB& target);

}  // namespace velomark
