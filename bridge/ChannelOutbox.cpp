#include "bridge/ChannelOutbox.h"

namespace velomark {

void ChannelOutbox::Push(HGLOBAL packed, size_t size, const TW_IMAGEINFO& info) {
    m_images.push_back(Image{packed, size, info});
    m_nBytes += size;
    // The newest image always stays: it is the one the client would see last.
    while (m_images.size() > 1 &&
           (m_images.size() > kMaxPendingImages || m_nBytes > kMaxPendingBytes))
        DropOldest();
}

ChannelOutbox::Image ChannelOutbox::Pop() {
    Image image = m_images.front();
    m_images.pop_front();
    m_nBytes -= image.size;
    return image;
}

void ChannelOutbox::PushFront(const Image& image) {
    m_images.push_front(image);
    m_nBytes += image.size;
}

void ChannelOutbox::DropOldest() {
    GlobalFree(Pop().packed);
    ++m_nDropped;
}

void ChannelOutbox::Clear() {
    while (!m_images.empty()) GlobalFree(Pop().packed);
}

}  // namespace velomark
