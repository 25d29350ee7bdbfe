// The open image streams of the command socket. Each image becomes one sealed
// memory file, written once and sent to every stream; the acquisition's end goes
// to every stream too. Nothing here waits for a client.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bridge/ImageSink.h"
#include "bridge/StreamWire.h"

namespace velomark {

class ImageStream;
class SealedImage;

class StreamHub : public ImageSink {
public:
    explicit StreamHub(uint64_t waitLimit = kStreamWaitLimit) : m_waitLimit(waitLimit) {}
    ~StreamHub() override;

    // A new stream on connection `fd`; it takes events from now on.
    std::shared_ptr<ImageStream> Add(int fd, uint64_t wanted);
    // A stream of one job: it takes only the images given to it (TakeImageFor) and
    // ends with its job, not with the acquisitions of others.
    std::shared_ptr<ImageStream> AddForJob(int fd, uint64_t wanted);
    void Remove(const std::shared_ptr<ImageStream>& stream);

    void TakeImage(const void* packed, size_t size, const unsigned char* info) override;
    // The spare memory file, when one is ready and a stream is open, as the room the
    // next image is written into; sent to the streams open when it is published.
    std::unique_ptr<ImageInPlace> BeginImage(size_t size) override;
    void TakeImageFor(const std::shared_ptr<ImageStream>& stream, const void* packed, size_t size,
                      const unsigned char* info);
    // The source closed after its batch, or the acquisition failed: kind 2, or kind 3
    // with `failure` when the source said why.
    void EndAcquisition(const std::string& failure = std::string());
    // Ends every stream's sends (the server stops).
    void CloseAll();
    size_t Count() const;
    // Why the last image could not be made into a memory file ("" when it could).
    std::string LastError() const;

    // A sealed memory file holding the bytes; -1 with `error` when it cannot be made.
    static int MakeSealedFile(const void* bytes, size_t size, std::string* error);

    // Whether a memory file with its pages already allocated waits for the next
    // image (for measurements).
    bool SpareReady() const;

private:
    // A spare memory file at least `size` bytes large (and its writable mapping),
    // or -1.
    int TakeSpare(size_t size, void** mapping, size_t* mappedSize);
    // Asks the preparing thread for a spare of `size` bytes for the next image:
    // allocating a file's pages costs as much as copying into them, and need not
    // hold up the hand-off.
    void WantSpare(size_t size);
    void PrepareSpares();
    void DropSpare();
    // The streams still taking events; the ended ones are dropped.
    std::list<std::shared_ptr<ImageStream>> OpenStreams();
    // The image in a sealed memory file for `streams`; null when none could be made.
    std::shared_ptr<SealedImage> Seal(const void* packed, size_t size);

    const uint64_t m_waitLimit;
    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<ImageStream>> m_streams;
    std::list<std::shared_ptr<ImageStream>> m_jobStreams;
    std::string m_lastError;
    std::condition_variable m_spareWanted;
    std::thread m_preparer;
    size_t m_wantedSize = 0;  // 0: no spare wanted
    int m_spareFd = -1;
    size_t m_spareSize = 0;
    void* m_spareMapping = nullptr;  // mapped with its pages present
    bool m_stopping = false;
};

}  // namespace velomark
