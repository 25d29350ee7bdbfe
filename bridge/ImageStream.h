// One client's image stream: its own queue of events and the non-blocking sends
// that empty it. Publishers push from any thread and never wait; the connection's
// thread runs the sends (Run) until the stream ends.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/StreamWire.h"

namespace velomark {

// A sealed memory file holding one packed image, shared by every stream that
// sends it; closed when the last one is done with it.
struct SealedImage {
    // A sealed memory file of `bytes`; or, with `writable`, one whose image that
    // mapping holds already: the mapping is let go and the file sealed when a stream
    // first sends it, on that stream's thread, not on the hand-off's.
    SealedImage(int descriptor, uint64_t bytes, void* writable = nullptr, size_t writableSize = 0)
        : size(bytes), m_fd(descriptor), m_writable(writable), m_writableSize(writableSize) {}
    ~SealedImage();
    SealedImage(const SealedImage&) = delete;
    SealedImage& operator=(const SealedImage&) = delete;
    // The sealed file; -1 when it could not be sealed (it is never sent unsealed).
    int Descriptor();
    const uint64_t size;

private:
    int m_fd;
    void* m_writable;
    size_t m_writableSize;
    std::once_flag m_sealing;
    bool m_sealed = false;
};

class ImageStream {
public:
    // `fd` is the connection (not owned); `wanted` images end it, 0 for no limit.
    ImageStream(int fd, uint64_t wanted, uint64_t waitLimit = kStreamWaitLimit);
    ~ImageStream();
    ImageStream(const ImageStream&) = delete;
    ImageStream& operator=(const ImageStream&) = delete;

    void PushImage(const std::shared_ptr<SealedImage>& image, const unsigned char* info);
    // The acquisition ended: kind 2, then the stream closes.
    void PushEnd();
    // The job failed: kind 3 with `text`, then the stream closes.
    void PushError(const std::string& text);
    // Ends Run soon, whatever waits.
    void Close();
    // Whether it still takes events.
    bool Open() const;

    // Sends the events as the client takes them, until the stream has ended, the
    // client went away or Close was called.
    void Run();

private:
    struct Event {
        unsigned char header[kStreamHeaderSize];
        std::shared_ptr<SealedImage> image;
        std::string text;
    };
    void Wake();
    // Pushes under the lock; closes the stream to further events when `last`.
    void PushLocked(Event event, bool last);
    // Sends what the socket takes of the event from byte *sent on; false when the
    // connection failed.
    bool SendEvent(const Event& event, size_t* sent);

    int m_fd;
    int m_wakeFd;
    const uint64_t m_wanted;
    const uint64_t m_waitLimit;
    mutable std::mutex m_mutex;
    std::deque<Event> m_events;
    uint64_t m_waitingBytes = 0;
    uint32_t m_imagesQueued = 0;
    bool m_accepting = true;  // further events are taken
    bool m_closed = false;    // Run ends now
    bool m_cutOff = false;    // past the wait limit: only the error event is left
};

}  // namespace velomark
