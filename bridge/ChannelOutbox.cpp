#include "bridge/ChannelOutbox.h"

namespace velomark {

bool ChannelOutbox::Push(HGLOBAL packed, size_t size, const TW_IMAGEINFO& info,
                         std::string* error) {
    if (m_nMemoryBytes + size <= m_nBudget) {
        m_images.push_back(Entry{packed, 0, size, info});
        m_nMemoryBytes += size;
        return true;
    }
    uint64_t offset = 0;
    const bool spooled = Spool(packed, size, &offset, error);
    GlobalFree(packed);
    if (!spooled) return false;
    m_images.push_back(Entry{nullptr, offset, size, info});
    ++m_nSpooled;
    return true;
}

bool ChannelOutbox::Spool(HGLOBAL packed, size_t size, uint64_t* offset, std::string* error) {
    const void* bytes = GlobalLock(packed);
    if (!bytes) {
        *error = "out of memory";
        return false;
    }
    const bool spooled = m_spool.Append(bytes, size, offset, error);
    GlobalUnlock(packed);
    return spooled;
}

bool ChannelOutbox::Pop(Image* image, std::string* error) {
    const Entry entry = m_images.front();
    m_images.pop_front();
    Forget(entry);
    if (entry.packed) {
        *image = Image{entry.packed, entry.size, entry.info};
        ++m_nDelivered;
        return true;
    }
    HGLOBAL packed = GlobalAlloc(GMEM_MOVEABLE, entry.size);
    void* bytes = packed ? GlobalLock(packed) : nullptr;
    const bool read = bytes && m_spool.Read(entry.spoolOffset, bytes, entry.size, error);
    if (bytes) GlobalUnlock(packed);
    if (m_nSpooled == 0) m_spool.Reset();
    if (!read) {
        if (!bytes) *error = "out of memory reading the spool file";
        if (packed) GlobalFree(packed);
        ++m_nRemoved;
        return false;
    }
    *image = Image{packed, entry.size, entry.info};
    ++m_nDelivered;
    return true;
}

void ChannelOutbox::PushFront(const Image& image) {
    --m_nDelivered;
    // An image read back from the spool goes back there when memory is at its budget;
    // only a spool that cannot take it keeps it in memory, so that it is not lost.
    if (m_nMemoryBytes + image.size > m_nBudget) {
        uint64_t offset = 0;
        std::string error;
        if (Spool(image.packed, image.size, &offset, &error)) {
            GlobalFree(image.packed);
            m_images.push_front(Entry{nullptr, offset, image.size, image.info});
            ++m_nSpooled;
            return;
        }
    }
    m_images.push_front(Entry{image.packed, 0, image.size, image.info});
    m_nMemoryBytes += image.size;
}

void ChannelOutbox::Forget(const Entry& entry) {
    if (entry.packed)
        m_nMemoryBytes -= entry.size;
    else
        --m_nSpooled;
}

void ChannelOutbox::Clear() {
    for (const Entry& entry : m_images)
        if (entry.packed) GlobalFree(entry.packed);
    m_nRemoved += m_images.size();
    m_images.clear();
    m_nMemoryBytes = 0;
    m_nSpooled = 0;
    m_spool.Reset();
}

}  // namespace velomark
