// The process-wide pair of named sections shared with the client: the data
// block ("dllmemfilemap") and the status block ("dllmemfilemapStatus").
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "bridge/ChannelOutbox.h"
#include "platform/FileMapping.h"

namespace velomark {

class SharedChannel {
public:
    // The one channel of this process; the exported functions reach it too.
    static SharedChannel& Instance();

    SharedChannel() = default;
    ~SharedChannel();
    SharedChannel(const SharedChannel&) = delete;
    SharedChannel& operator=(const SharedChannel&) = delete;

    // Creates or opens both sections. A new data block is zeroed whole, a new
    // status block in its first 80 bytes; existing sections are used as they are.
    // A failure leaves the rest unopened.
    void Open();
    // Unmaps and closes both; the sections live on while another process has them.
    void Close();

    // Null when not mapped. The sizes are the mapped sizes, which a client that
    // made a section smaller than usual determines; nothing is written past them.
    unsigned char* DataBlock() const { return m_pDataView; }
    size_t DataBlockSize() const { return m_nDataSize; }
    unsigned char* StatusBlock() const { return m_pStatusView; }
    size_t StatusBlockSize() const { return m_nStatusSize; }

    // Whether this process created the section (rather than opening it).
    bool CreatedDataBlock() const { return m_bDataCreated; }
    bool CreatedStatusBlock() const { return m_bStatusCreated; }

    // The status word, read and written atomically: the client process shares it.
    // Without a status block: LoadStatus gives 0 and the others do nothing.
    bool HasStatusWord() const { return m_pStatusView && m_nStatusSize >= sizeof(int32_t); }
    int32_t LoadStatus() const;
    void StoreStatus(int32_t value);
    // Replaces expected with desired only if the word still holds expected.
    bool ExchangeStatus(int32_t expected, int32_t desired);

    // Images waiting for the client to take the previous one; emptied on Close.
    ChannelOutbox& Outbox() { return m_outbox; }

    // A command's reply stands in the data block: images wait for a moment, so
    // that the client that sent the command can read it before the first image
    // of the acquisition it started takes its place.
    static constexpr std::chrono::milliseconds kReplyHold{200};
    void HoldImagesForReply() { m_replyHeldUntil = std::chrono::steady_clock::now() + kReplyHold; }
    bool ImagesHeldForReply() const { return std::chrono::steady_clock::now() < m_replyHeldUntil; }

private:
    unsigned char* m_pDataView = nullptr;
    HANDLE m_hDataMapping = nullptr;
    unsigned char* m_pStatusView = nullptr;
    HANDLE m_hStatusMapping = nullptr;
    size_t m_nDataSize = 0;
    size_t m_nStatusSize = 0;
    bool m_bDataCreated = false;
    bool m_bStatusCreated = false;
    ChannelOutbox m_outbox;
    std::chrono::steady_clock::time_point m_replyHeldUntil{};
};

// The channel's two lifecycle steps on the process-wide channel.
void OpenSharedChannel();
void CloseSharedChannel();

}  // namespace velomark
