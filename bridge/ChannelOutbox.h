// Images waiting for the client. A source may deliver a whole batch within one
// transfer loop, faster than any client reads; an image that arrives while the
// client has not yet taken the previous one (the status word still says 5) waits
// here, and the poll places it once the client has written something else. So a
// client that takes every image gets every image, and never a half-written one.
//
// Bounded: beyond kMaxPendingImages or kMaxPendingBytes the oldest waiting image
// is dropped (a client that stopped reading would otherwise hold memory forever).
// User-interface thread only.
#pragma once

#include <cstddef>
#include <deque>

#include "platform/GlobalMemory.h"
#include "twain/TwainTypes.h"

namespace velomark {

class ChannelOutbox {
public:
    static constexpr size_t kMaxPendingImages = 8;
    static constexpr size_t kMaxPendingBytes = size_t(128) << 20;

    ChannelOutbox() = default;
    ~ChannelOutbox() { Clear(); }
    ChannelOutbox(const ChannelOutbox&) = delete;
    ChannelOutbox& operator=(const ChannelOutbox&) = delete;

    // Takes over `packed` (a packed DIB of `size` bytes); may drop older images.
    void Push(HGLOBAL packed, size_t size, const TW_IMAGEINFO& info);
    bool Empty() const { return m_images.empty(); }
    size_t Count() const { return m_images.size(); }
    // Images dropped since the outbox was made.
    size_t DroppedCount() const { return m_nDropped; }

    struct Image {
        HGLOBAL packed;
        size_t size;
        TW_IMAGEINFO info;
    };
    // The oldest waiting image, now the caller's (free `packed`). Only when not Empty.
    Image Pop();
    // Puts back an image that Pop gave, as the oldest again.
    void PushFront(const Image& image);
    void Clear();

private:
    void DropOldest();

    std::deque<Image> m_images;
    size_t m_nBytes = 0;
    size_t m_nDropped = 0;
};

}  // namespace velomark
