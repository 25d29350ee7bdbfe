#include "bridge/ImageStream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/SealedImage.h"

namespace velomark {

namespace {

// How long a cut-off stream tries to tell its client before it closes anyway.
constexpr int kCutOffNoticeMs = 2000;

}  // namespace

ImageStream::ImageStream(int fd, uint64_t wanted, uint64_t waitLimit)
    : m_fd(fd),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_wanted(wanted),
      m_waitLimit(waitLimit) {}

ImageStream::~ImageStream() {
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void ImageStream::Wake() {
    const uint64_t one = 1;
    if (m_wakeFd >= 0) {
        ssize_t ignored = write(m_wakeFd, &one, sizeof(one));
        (void)ignored;
    }
}

bool ImageStream::Open() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accepting && !m_closed;
}

void ImageStream::PushLocked(Event event, bool last) {
    m_events.push_back(std::move(event));
    if (last) m_accepting = false;
}

void ImageStream::PushImage(const std::shared_ptr<SealedImage>& image, const unsigned char* info) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting || m_closed) return;
        if (m_waitingBytes + image->size > m_waitLimit) {
            // The client does not read: what waits goes, and it is told why.
            m_events.clear();
            m_waitingBytes = 0;
            static const char kText[] = "the client is not reading";
            Event error{};
            StreamHeader header;
            header.kind = STREAM_ERROR;
            header.size = sizeof(kText) - 1;
            header.sequence = m_imagesQueued;
            StreamWire::Encode(header, error.header);
            error.text = kText;
            m_cutOff = true;
            PushLocked(std::move(error), true);
        } else {
            Event event{};
            StreamHeader header;
            header.kind = STREAM_IMAGE;
            header.size = image->size;
            header.sequence = ++m_imagesQueued;
            std::memcpy(header.info, info, kStreamInfoSize);
            StreamWire::Encode(header, event.header);
            event.image = image;
            m_waitingBytes += image->size;
            PushLocked(std::move(event), m_wanted != 0 && m_imagesQueued >= m_wanted);
        }
    }
    Wake();
}

void ImageStream::PushError(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting || m_closed) return;
        Event event{};
        StreamHeader header;
        header.kind = STREAM_ERROR;
        header.size = text.size();
        header.sequence = m_imagesQueued;
        StreamWire::Encode(header, event.header);
        event.text = text;
        PushLocked(std::move(event), true);
    }
    Wake();
}

void ImageStream::PushEnd() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting || m_closed) return;
        Event event{};
        StreamHeader header;
        header.kind = STREAM_END;
        header.sequence = m_imagesQueued;
        StreamWire::Encode(header, event.header);
        PushLocked(std::move(event), true);
    }
    Wake();
}

void ImageStream::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_accepting = false;
    }
    Wake();
}

bool ImageStream::SendEvent(const Event& event, size_t* sent) {
    const size_t total = kStreamHeaderSize + event.text.size();
    while (*sent < total) {
        const unsigned char* from;
        size_t length;
        if (*sent < kStreamHeaderSize) {
            from = event.header + *sent;
            length = kStreamHeaderSize - *sent;
        } else {
            from = reinterpret_cast<const unsigned char*>(event.text.data()) +
                   (*sent - kStreamHeaderSize);
            length = total - *sent;
        }
        // The descriptor rides with the header's first byte.
        const bool withImage = *sent == 0 && event.image;
        const int image = withImage ? event.image->Descriptor() : -1;
        if (withImage && image < 0) return false;  // the stream ends rather than send it unsealed
        ssize_t done = StreamWire::Send(m_fd, from, length, withImage ? &image : nullptr,
                                        withImage ? 1 : 0, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (done > 0) {
            *sent += static_cast<size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        // Too many descriptors in flight: the client has to read some first.
        if (done < 0 && errno == ETOOMANYREFS) {
            usleep(10000);
            return true;
        }
        return false;
    }
    return true;
}

void ImageStream::Run() {
    Event current{};
    bool haveCurrent = false;
    size_t sent = 0;
    for (;;) {
        bool cutOff;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed) return;
            if (!haveCurrent && !m_events.empty()) {
                current = std::move(m_events.front());
                m_events.pop_front();
                if (current.image) m_waitingBytes -= current.image->size;
                haveCurrent = true;
                sent = 0;
            }
            if (!haveCurrent && !m_accepting) return;
            cutOff = m_cutOff;
        }
        if (haveCurrent) {
            if (!SendEvent(current, &sent)) return;
            if (sent == kStreamHeaderSize + current.text.size()) {
                current = Event{};
                haveCurrent = false;
                continue;
            }
        }
        pollfd entries[2] = {{m_fd, static_cast<short>(POLLIN | (haveCurrent ? POLLOUT : 0)), 0},
                             {m_wakeFd, POLLIN, 0}};
        const int ready = poll(entries, 2, cutOff ? kCutOffNoticeMs : -1);
        if (ready == 0) return;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (entries[1].revents != 0) {
            uint64_t count;
            ssize_t ignored = read(m_wakeFd, &count, sizeof(count));
            (void)ignored;
        }
        // The client sends nothing more once streaming: any byte, or its end, ends it.
        if (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) return;
    }
}

}  // namespace velomark
