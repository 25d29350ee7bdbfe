// What a device context draws on. The graphics functions decode DIB pixels into
// colour values themselves; a surface only stores a rectangle of them, so the
// in-memory surface and the window surface share every decoding path.
#pragma once

#include <cstdint>

struct SurfaceRect {
    int left = 0;
    int top = 0;
    int right = 0;   // exclusive
    int bottom = 0;  // exclusive
};

class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;

    // The area that drawing may touch, in device units; nothing outside it is decoded.
    virtual SurfaceRect ClipBox() const = 0;

    // Stores w x h colour values (0x00BBGGRR) at device position (x, y); `pitch` is the
    // distance between rows of `colors` in elements. The rectangle lies inside ClipBox().
    virtual void PutPixels(int x, int y, int w, int h, const uint32_t* colors, int pitch) = 0;
};
