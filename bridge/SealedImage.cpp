#include "bridge/SealedImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "bridge/StreamWire.h"

namespace velomark {

SealedImage::SealedImage(int descriptor, uint64_t bytes) : size(bytes), m_fd(descriptor) {}

SealedImage::SealedImage(int descriptor, const void* image, uint64_t bytes, void* writable,
                         size_t writableSize, size_t stretch)
    : SealedImage(descriptor, bytes, writable, writableSize) {
    // Unmapped stretches start on page boundaries.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    CopyIn(image, std::max<size_t>(1, (stretch + page - 1) / page) * page);
}

SealedImage::SealedImage(int descriptor, uint64_t bytes, void* writable, size_t writableSize)
    : size(bytes),
      m_fd(descriptor),
      m_writable(static_cast<unsigned char*>(writable)),
      m_writableSize(writableSize),
      m_mappingHeld(true) {}

void* SealedImage::MapPrivately() const {
    if (m_fd < 0 || size == 0) return nullptr;
    void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, m_fd, 0);
    return mapping == MAP_FAILED ? nullptr : mapping;
}

void SealedImage::CopyIn(const void* image, size_t stretch) {
    const auto* from = static_cast<const unsigned char*>(image);
    if (size > stretch) {
        try {
            m_releaser = std::thread([this] { ReleaseCopied(); });
        } catch (const std::system_error&) {
            // No thread: the whole mapping goes when the image is sealed.
        }
    }
    m_mappingHeld = !m_releaser.joinable();
    size_t done = 0;
    while (done < size) {
        const size_t part = std::min<size_t>(stretch, size - done);
        std::memcpy(m_writable + done, from + done, part);
        done += part;
        if (part == stretch && m_releaser.joinable()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_copied = done;
            m_progress.notify_one();
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_copyDone = true;
    m_progress.notify_one();
}

void SealedImage::ReleaseCopied() {
    size_t released = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_progress.wait(lock, [&] { return m_copyDone || m_copied > released; });
        const bool last = m_copyDone;
        const size_t upTo = last ? m_writableSize : m_copied;
        lock.unlock();
        munmap(m_writable + released, upTo - released);
        released = upTo;
        if (last) return;
        lock.lock();
    }
}

SealedImage::~SealedImage() {
    if (m_releaser.joinable()) m_releaser.join();
    if (m_mappingHeld) munmap(m_writable, m_writableSize);
    if (m_fd >= 0) close(m_fd);
}

int SealedImage::Descriptor() {
    std::call_once(m_sealing, [this] {
        if (!m_writable) {
            m_sealed = m_fd >= 0;
            return;
        }
        // A writable mapping left would make the write seal fail; the file may be a
        // spare larger than the image.
        if (m_releaser.joinable()) m_releaser.join();
        if (m_mappingHeld) munmap(m_writable, m_writableSize);
        m_mappingHeld = false;
        m_sealed = ftruncate(m_fd, static_cast<off_t>(size)) == 0 &&
                   fcntl(m_fd, F_ADD_SEALS, kStreamImageSeals) == 0;
    });
    return m_sealed ? m_fd : -1;
}

}  // namespace velomark
