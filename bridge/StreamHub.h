// The open image streams of the command socket. Each image becomes one sealed
// memory file, written once and sent to every stream; the acquisition's end goes
// to every stream too. Nothing here waits for a client.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/ImageSink.h"
#include "bridge/StreamWire.h"

namespace velomark {

class ImageStream;

class StreamHub : public ImageSink {
public:
    explicit StreamHub(uint64_t waitLimit = kStreamWaitLimit) : m_waitLimit(waitLimit) {}
    ~StreamHub() override;

    // A new stream on connection `fd`; it takes events from now on.
    std::shared_ptr<ImageStream> Add(int fd, uint64_t wanted);
    void Remove(const std::shared_ptr<ImageStream>& stream);

    void TakeImage(const void* packed, size_t size, const unsigned char* info) override;
    // The source closed after its batch, or the acquisition failed.
    void EndAcquisition();
    // Ends every stream's sends (the server stops).
    void CloseAll();
    size_t Count() const;
    // Why the last image could not be made into a memory file ("" when it could).
    std::string LastError() const;

    // A sealed memory file holding the bytes; -1 with `error` when it cannot be made.
    static int MakeSealedFile(const void* bytes, size_t size, std::string* error);

private:
    // The streams still taking events; the ended ones are dropped.
    std::list<std::shared_ptr<ImageStream>> OpenStreams();

    const uint64_t m_waitLimit;
    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<ImageStream>> m_streams;
    std::string m_lastError;
};

}  // namespace velomark
