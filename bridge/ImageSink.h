// Where the image hand-off also gives each packed 24-bit image: the streams.
// Whatever takes it must not wait for anyone.
#pragma once

#include <cstddef>
#include <memory>

namespace velomark {

// Room for one image, written in place into the memory file that the streams will
// send, so that the page is decoded once into the buffer the streams and the
// document share.
class ImageInPlace {
public:
    virtual ~ImageInPlace() = default;
    // The image's `size` bytes, writable until Publish.
    virtual unsigned char* Bytes() = 0;
    virtual size_t Size() const = 0;
    // A private copy-on-write mapping of what was written, for the document: its
    // changes never reach the streams. Null when none can be made. Asked before
    // Publish; the caller unmaps it.
    virtual void* MapPrivately() = 0;
    // The image is written (and nothing reads Bytes() any more): the streams send it.
    // `info` is the 42-byte description.
    virtual void Publish(const unsigned char* info) = 0;
};

class ImageSink {
public:
    virtual ~ImageSink() = default;
    // `packed` is the packed DIB, `info` the 42-byte description.
    virtual void TakeImage(const void* packed, size_t size, const unsigned char* info) = 0;
    // Room for an image of `size` bytes written in place; null when the sink has
    // none ready (then TakeImage copies the image).
    virtual std::unique_ptr<ImageInPlace> BeginImage(size_t /*size*/) { return nullptr; }
};

}  // namespace velomark
