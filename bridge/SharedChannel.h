// The process-wide pair of named sections shared with the client: the data
// block ("dllmemfilemap") and the status block ("dllmemfilemapStatus").
//
// Any process of the user can resize these objects. Every access goes through a
// guard (platform/SectionGuard): a client that shrank a section under a copy cannot
// end Velomark; the copy is reported as failed, the damage is noticed (status bar
// and stderr) and the section is mapped afresh, at its new size, before its next
// use. A client may also grow the data section to carry larger images: the data
// block is mapped at the object's current size before each image is placed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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
    // A failure leaves the rest unopened, with the reason in OpenError().
    void Open();
    // Unmaps and closes both; the sections live on while another process has them.
    void Close();
    const std::string& OpenError() const { return m_openError; }

    // Null when not mapped. The sizes are the mapped sizes; nothing is written past
    // them. Touch the views only through the guarded calls below.
    unsigned char* DataBlock() const { return m_data.view; }
    size_t DataBlockSize() const { return m_data.size; }
    unsigned char* StatusBlock() const { return m_status.view; }
    size_t StatusBlockSize() const { return m_status.size; }

    // Whether this process created the section (rather than opening it).
    bool CreatedDataBlock() const { return m_data.created; }
    bool CreatedStatusBlock() const { return m_status.created; }

    // The largest size the data block has been mapped at: a client that shrank the
    // section is expected to give the room back, so images that fitted wait for it.
    size_t LargestDataBlockSize() const { return m_nLargestDataSize; }

    // Maps the data section afresh when its object's size differs from the view's
    // (a client grew or shrank it) or a guard caught damage. Before placing an image.
    void RefreshDataBlock();

    // Guarded copies into and out of the blocks; false when the range lies outside
    // the view or the client damaged the section meanwhile.
    bool WriteData(size_t offset, const void* bytes, size_t size);
    bool WriteStatusBlock(size_t offset, const void* bytes, size_t size);
    // The text at the start of the data block: at most `limit` bytes up to its zero
    // byte, copied to `text` with a zero byte after them (text holds limit + 1).
    // False, with an empty text, when there is no data block or it was damaged.
    bool ReadText(char* text, size_t limit);
    // Writes text and its zero byte at the start of the data block, cut so that the
    // zero byte stays inside the block.
    bool WriteText(const char* text);

    // The status word, read and written atomically: the client process shares it.
    // Without a status block: LoadStatus gives 0 and the others do nothing.
    bool HasStatusWord() const { return m_status.view && m_status.size >= sizeof(int32_t); }
    int32_t LoadStatus();
    void StoreStatus(int32_t value);
    // Replaces expected with desired only if the word still holds expected.
    bool ExchangeStatus(int32_t expected, int32_t desired);

    // Images waiting for the client to take the previous one; emptied on Close.
    ChannelOutbox& Outbox() { return m_outbox; }

    // What the user should learn about the channel (a damaged section, an image the
    // spool could not take). Each notice also goes to stderr.
    void SetNoticeHandler(std::function<void(const std::string&)> handler) {
        m_noticeHandler = std::move(handler);
    }
    void Notice(const std::string& text);

    // A command's reply stands in the data block: images wait for a moment, so
    // that the client that sent the command can read it before the first image
    // of the acquisition it started takes its place.
    static constexpr std::chrono::milliseconds kReplyHold{200};
    void HoldImagesForReply() { m_replyHeldUntil = std::chrono::steady_clock::now() + kReplyHold; }
    bool ImagesHeldForReply() const { return std::chrono::steady_clock::now() < m_replyHeldUntil; }

    // A request that arrived while an acquisition was running, to be carried out
    // once it has ended (0: none). A select waits so; an acquire request joins the
    // running acquisition instead (JoinRunningAcquisition).
    int32_t DeferredRequest() const { return m_deferredRequest; }
    void SetDeferredRequest(int32_t request) {
        m_deferredRequest = request;
        m_deferredJoined = false;
    }
    // An acquire request joined the running acquisition: its pages from now on are
    // the client's. Only if that acquisition ends without transferring one does the
    // request start an acquisition of its own.
    void JoinRunningAcquisition();
    bool JoinedAcquisition() const { return m_deferredJoined; }
    // A page was transferred for the client: a joined request is answered.
    void PageTransferred();

    // Pages the client took: placed in the data block, then the status word moved
    // off 5 (the client stored 0 or made a new request) or the client wrote a command
    // over it. A running count, so the program can follow which pages reached it.
    void NoteImagePlaced();
    void NotePlacedImageTaken();
    size_t TakenCount() const { return m_nTaken; }

    struct Section {
        const char* baseName;
        HANDLE mapping = nullptr;
        unsigned char* view = nullptr;
        size_t size = 0;
        bool created = false;
        bool damaged = false;
    };

private:
    template <class Access>
    bool Guarded(Section& section, Access access);
    void Remap(Section& section);
    void Zero(Section& section, size_t bytes);
    bool Write(Section& section, size_t offset, const void* bytes, size_t size);
    void ReportDamage(Section& section);

    Section m_data{"dllmemfilemap"};
    Section m_status{"dllmemfilemapStatus"};
    std::string m_openError;
    ChannelOutbox m_outbox;
    std::function<void(const std::string&)> m_noticeHandler;
    std::chrono::steady_clock::time_point m_replyHeldUntil{};
    int32_t m_deferredRequest = 0;
    bool m_deferredJoined = false;
    bool m_placedNotTaken = false;
    size_t m_nTaken = 0;
    size_t m_nLargestDataSize = 0;
};

// The channel's two lifecycle steps on the process-wide channel.
void OpenSharedChannel();
void CloseSharedChannel();

}  // namespace velomark
