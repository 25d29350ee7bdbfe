// Images waiting for the client, in transfer order. A source may deliver a whole
// batch within one transfer loop, faster than any client reads; an image that
// arrives while the client has not yet taken the previous one waits here, and the
// poll places the oldest once the client has taken the one before. Nothing is
// dropped for lack of room: up to the memory budget (256 MiB) images wait in
// memory, beyond it in the spool file, and come back in order. Only an image the
// spool cannot take (disk full) is refused.
// User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "bridge/SpoolFile.h"
#include "platform/GlobalMemory.h"
#include "twain/TwainTypes.h"

namespace velomark {

class ChannelOutbox {
public:
    static constexpr size_t kMemoryBudget = size_t(256) << 20;

    explicit ChannelOutbox(size_t memoryBudget = kMemoryBudget) : m_nBudget(memoryBudget) {}
    ~ChannelOutbox() { Clear(); }
    ChannelOutbox(const ChannelOutbox&) = delete;
    ChannelOutbox& operator=(const ChannelOutbox&) = delete;

    // Takes over `packed` (a packed DIB of `size` bytes) as the newest waiting
    // image. False when it could be kept neither in memory nor in the spool: it is
    // freed, and *error says why.
    bool Push(HGLOBAL packed, size_t size, const TW_IMAGEINFO& info, std::string* error);
    bool Empty() const { return m_images.empty(); }
    size_t Count() const { return m_images.size(); }
    // Running counts: images taken from the queue for good (handed on to the
    // client), and images removed without reaching it (a new request, a spool
    // that could not give one back).
    size_t DeliveredCount() const { return m_nDelivered; }
    size_t RemovedCount() const { return m_nRemoved; }
    // Bytes of the waiting images held in memory.
    size_t MemoryBytes() const { return m_nMemoryBytes; }
    // How many waiting images are in the spool.
    size_t SpooledCount() const { return m_nSpooled; }

    struct Image {
        HGLOBAL packed;
        size_t size;
        TW_IMAGEINFO info;
    };
    // The oldest waiting image, now the caller's (free `packed`), read back from
    // the spool if it was there. Only when not Empty. False when the spool could
    // not give it back: it has left the queue, and *error says why.
    bool Pop(Image* image, std::string* error);
    // Puts back an image that Pop gave (it was not handed on), as the oldest again,
    // in memory while the budget allows, else in the spool.
    void PushFront(const Image& image);
    // Removes every waiting image.
    void Clear();

private:
    struct Entry {
        HGLOBAL packed;  // null when spooled
        uint64_t spoolOffset;
        size_t size;
        TW_IMAGEINFO info;
    };
    void Forget(const Entry& entry);
    // Appends `packed`'s bytes to the spool (the caller still owns the block).
    bool Spool(HGLOBAL packed, size_t size, uint64_t* offset, std::string* error);

    size_t m_nBudget;
    std::deque<Entry> m_images;
    size_t m_nMemoryBytes = 0;
    size_t m_nSpooled = 0;
    size_t m_nDelivered = 0;
    size_t m_nRemoved = 0;
    SpoolFile m_spool;
};

}  // namespace velomark
