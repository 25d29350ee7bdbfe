#include "bridge/StreamHub.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

#include "bridge/ImageStream.h"
#include "bridge/SealedImage.h"

namespace velomark {

StreamHub::~StreamHub() {
    CloseAll();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_spareWanted.notify_all();
    if (m_preparer.joinable()) m_preparer.join();
    DropSpare();
}

void StreamHub::DropSpare() {
    if (m_spareMapping) munmap(m_spareMapping, m_spareSize);
    if (m_spareFd >= 0) close(m_spareFd);
    m_spareMapping = nullptr;
    m_spareFd = -1;
}

bool StreamHub::SpareReady() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_spareFd >= 0;
}

int StreamHub::TakeSpare(size_t size, void** mapping, size_t* mappedSize) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_spareFd < 0 || m_spareSize < size) return -1;
    const int fd = m_spareFd;
    *mapping = m_spareMapping;
    *mappedSize = m_spareSize;
    m_spareFd = -1;
    m_spareMapping = nullptr;
    return fd;
}

void StreamHub::WantSpare(size_t size) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return;
        m_wantedSize = size;
        if (!m_preparer.joinable()) m_preparer = std::thread([this] { PrepareSpares(); });
    }
    m_spareWanted.notify_all();
}

namespace {

void PrefaultForWriting(void* mapping, size_t size) {
#ifdef MADV_POPULATE_WRITE
    if (madvise(mapping, size, MADV_POPULATE_WRITE) == 0) return;
#endif
    // Older kernels: one write per page, of the byte already there.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto* bytes = static_cast<volatile unsigned char*>(mapping);
    for (size_t at = 0; at < size; at += page) bytes[at] = bytes[at];
}

}  // namespace

void StreamHub::PrepareSpares() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_spareWanted.wait(lock, [&] {
            return m_stopping || (m_wantedSize > 0 && (m_spareFd < 0 || m_spareSize < m_wantedSize));
        });
        if (m_stopping) return;
        const size_t size = m_wantedSize;
        lock.unlock();
        // Pages allocated and mapped now, so that the hand-off only copies.
        int fd = memfd_create("velomark-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        void* mapping = MAP_FAILED;
        if (fd >= 0 && fallocate(fd, 0, 0, static_cast<off_t>(size)) == 0)
            mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (mapping == MAP_FAILED && fd >= 0) {
            close(fd);
            fd = -1;
        }
        // MAP_POPULATE maps a shared file's pages read-only: the hand-off's copy would
        // still take a write fault on every page. Made writable here, off its path.
        if (mapping != MAP_FAILED) PrefaultForWriting(mapping, size);
        lock.lock();
        if (fd < 0) {
            m_wantedSize = 0;  // no memory to spare: images make their own files
            continue;
        }
        DropSpare();
        m_spareFd = fd;
        m_spareSize = size;
        m_spareMapping = mapping;
    }
}

std::shared_ptr<ImageStream> StreamHub::Add(int fd, uint64_t wanted) {
    auto stream = std::make_shared<ImageStream>(fd, wanted, m_waitLimit);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.push_back(stream);
    return stream;
}

std::shared_ptr<ImageStream> StreamHub::AddForJob(int fd, uint64_t wanted) {
    auto stream = std::make_shared<ImageStream>(fd, wanted, m_waitLimit);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobStreams.push_back(stream);
    return stream;
}

void StreamHub::Remove(const std::shared_ptr<ImageStream>& stream) {
    stream->Close();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.remove(stream);
    m_jobStreams.remove(stream);
    if (m_streams.empty() && m_jobStreams.empty()) {
        m_wantedSize = 0;
        DropSpare();
    }
}

std::list<std::shared_ptr<ImageStream>> StreamHub::OpenStreams() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.remove_if([](const std::shared_ptr<ImageStream>& s) { return !s->Open(); });
    return m_streams;
}

size_t StreamHub::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_streams.size();
}

std::string StreamHub::LastError() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

int StreamHub::MakeSealedFile(const void* bytes, size_t size, std::string* error) {
    const int fd = memfd_create("velomark-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        *error = std::string("cannot make a memory file: ") + std::strerror(errno);
        return -1;
    }
    const auto* from = static_cast<const unsigned char*>(bytes);
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = pwrite(fd, from + done, size - done, static_cast<off_t>(done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            *error = std::string("cannot fill a memory file: ") + std::strerror(errno);
            close(fd);
            return -1;
        }
        done += static_cast<size_t>(wrote);
    }
    if (fcntl(fd, F_ADD_SEALS, kStreamImageSeals) != 0) {
        *error = std::string("cannot seal a memory file: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

namespace {

// The spare file's room, written by the hand-off, then sent by `publish`.
class SpareInPlace : public ImageInPlace {
public:
    using Publisher = std::function<void(const std::shared_ptr<SealedImage>&, const unsigned char*)>;
    SpareInPlace(std::shared_ptr<SealedImage> image, Publisher publish)
        : m_image(std::move(image)), m_publish(std::move(publish)) {}
    unsigned char* Bytes() override { return m_image->Writable(); }
    size_t Size() const override { return static_cast<size_t>(m_image->size); }
    void* MapPrivately() override { return m_image->MapPrivately(); }
    void Publish(const unsigned char* info) override { m_publish(m_image, info); }

private:
    std::shared_ptr<SealedImage> m_image;
    Publisher m_publish;
};

}  // namespace

std::unique_ptr<ImageInPlace> StreamHub::BeginImage(size_t size) {
    if (OpenStreams().empty()) return nullptr;
    void* mapping = nullptr;
    size_t mappedSize = 0;
    const int spare = TakeSpare(size, &mapping, &mappedSize);
    if (spare < 0) return nullptr;  // TakeImage makes a file of its own
    auto image = std::make_shared<SealedImage>(spare, size, mapping, mappedSize);
    WantSpare(size);
    return std::make_unique<SpareInPlace>(
        image, [this](const std::shared_ptr<SealedImage>& written, const unsigned char* info) {
            for (const auto& stream : OpenStreams()) stream->PushImage(written, info);
        });
}

void StreamHub::TakeImage(const void* packed, size_t size, const unsigned char* info) {
    std::list<std::shared_ptr<ImageStream>> streams = OpenStreams();
    if (streams.empty()) return;
    if (std::shared_ptr<SealedImage> image = Seal(packed, size))
        for (const auto& stream : streams) stream->PushImage(image, info);
}

void StreamHub::TakeImageFor(const std::shared_ptr<ImageStream>& stream, const void* packed,
                             size_t size, const unsigned char* info) {
    if (!stream->Open()) return;
    if (std::shared_ptr<SealedImage> image = Seal(packed, size)) stream->PushImage(image, info);
}

std::shared_ptr<SealedImage> StreamHub::Seal(const void* packed, size_t size) {
    std::string error;
    void* mapping = nullptr;
    size_t mappedSize = 0;
    std::shared_ptr<SealedImage> image;
    if (const int spare = TakeSpare(size, &mapping, &mappedSize); spare >= 0) {
        // One copy here; the mapping is let go behind it and the file sealed as it
        // is sent.
        image = std::make_shared<SealedImage>(spare, packed, size, mapping, mappedSize);
    } else if (const int fd = MakeSealedFile(packed, size, &error); fd >= 0) {
        image = std::make_shared<SealedImage>(fd, size);
    }
    WantSpare(size);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastError = error;
    return image;
}

void StreamHub::EndAcquisition(const std::string& failure) {
    for (const auto& stream : OpenStreams()) {
        if (failure.empty())
            stream->PushEnd();
        else
            stream->PushError(failure);
    }
}

void StreamHub::CloseAll() {
    std::list<std::shared_ptr<ImageStream>> streams;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        streams.swap(m_streams);
        streams.splice(streams.end(), m_jobStreams);
        // Without streams the spare's memory is better given back.
        m_wantedSize = 0;
        DropSpare();
    }
    for (const auto& stream : streams) stream->Close();
}

}  // namespace velomark
