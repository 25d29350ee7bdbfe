// A sealed memory file holding one packed image, shared by every stream that sends
// it; closed when the last one is done with it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace velomark {

class SealedImage {
public:
    // Letting go of a writable mapping of a large file costs about as much as
    // copying into it; it is done this much at a time, behind the copy.
    static constexpr size_t kReleaseStretch = size_t(8) << 20;

    // A sealed memory file of `bytes`.
    SealedImage(int descriptor, uint64_t bytes);
    // Copies `bytes` of `image` into `writable`, a writable mapping of
    // `writableSize` bytes (at least `bytes`) of the memory file `descriptor`.
    // Each stretch copied is unmapped on a thread of the image's own while the next
    // is copied; the file is cut to `bytes` and sealed when a stream first sends it,
    // on that stream's thread, not on the hand-off's.
    SealedImage(int descriptor, const void* image, uint64_t bytes, void* writable,
                size_t writableSize, size_t stretch = kReleaseStretch);
    // Room for an image of `bytes` that its maker writes in place (Writable) into
    // `writable`, a writable mapping of `writableSize` bytes (at least `bytes`) of the
    // memory file `descriptor`, before any stream sends it. The whole mapping goes
    // when the file is sealed.
    SealedImage(int descriptor, uint64_t bytes, void* writable, size_t writableSize);
    ~SealedImage();
    SealedImage(const SealedImage&) = delete;
    SealedImage& operator=(const SealedImage&) = delete;

    // The sealed file; -1 when it could not be sealed (it is never sent unsealed).
    int Descriptor();
    // The image's writable bytes while it is made in place; null otherwise.
    unsigned char* Writable() const { return m_mappingHeld ? m_writable : nullptr; }
    // A private copy-on-write mapping of the image's `size` bytes (null: none),
    // for a reader that may change its copy without the streams seeing it.
    void* MapPrivately() const;
    const uint64_t size;

private:
    // The release thread: unmaps what is copied, then the rest of the mapping.
    void ReleaseCopied();
    void CopyIn(const void* image, size_t stretch);

    int m_fd;
    unsigned char* m_writable = nullptr;
    size_t m_writableSize = 0;
    bool m_mappingHeld = false;  // whole, with no release thread to let it go
    std::mutex m_mutex;
    std::condition_variable m_progress;
    size_t m_copied = 0;  // bytes of the mapping written, a whole number of stretches
    bool m_copyDone = false;
    std::thread m_releaser;
    std::once_flag m_sealing;
    bool m_sealed = false;
};

}  // namespace velomark
