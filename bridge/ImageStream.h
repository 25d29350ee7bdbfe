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

class SealedImage;

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
