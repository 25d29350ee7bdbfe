// Where the image hand-off also gives each packed 24-bit image: the streams.
// Whatever takes it must not wait for anyone.
#pragma once

#include <cstddef>

namespace velomark {

class ImageSink {
public:
    virtual ~ImageSink() = default;
    // `packed` is the packed DIB, `info` the 42-byte description.
    virtual void TakeImage(const void* packed, size_t size, const unsigned char* info) = 0;
};

}  // namespace velomark
