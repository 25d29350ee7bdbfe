#include "bridge/ImageHandoff.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "bridge/ChannelLayout.h"
#include "bridge/ImageDocument.h"
#include "bridge/ImageSink.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"
#include "dib/DibHeader.h"

namespace velomark {

namespace {

static_assert(sizeof(TW_IMAGEINFO) == kImageInfoSize, "the description is 42 bytes");

// Whether an image may be placed now: the client has taken the previous one (the
// word is neither 5 nor a request not yet taken up) and no reply is held for it.
// *status is the word as read.
bool ChannelTakesImage(SharedChannel& channel, int32_t* status) {
    if (!channel.DataBlock() || !channel.HasStatusWord() || channel.ImagesHeldForReply())
        return false;
    *status = channel.LoadStatus();
    return *status != CHANNEL_IMAGE_READY && *status != CHANNEL_SELECT_SOURCE &&
           *status != CHANNEL_ACQUIRE;
}

// Copies the packed image and its description, then sets 5 with one
// compare-and-exchange against the word read (release ordering: a client that reads
// 5 finds both complete). False when the client wrote the word meanwhile (its word
// wins and the image has to wait), or damaged a section under the copy.
bool PlaceImage(SharedChannel& channel, const void* packed, size_t size,
                const TW_IMAGEINFO& info, int32_t status) {
    // The word is not 5: the client took the image placed before (if it did not
    // yet, the poll would have seen 5).
    channel.NotePlacedImageTaken();
    if (!channel.WriteData(0, packed, size) ||
        !channel.WriteStatusBlock(kImageInfoOffset, &info, kImageInfoSize) ||
        !channel.ExchangeStatus(status, CHANNEL_IMAGE_READY))
        return false;
    channel.NoteImagePlaced();
    return true;
}

// The bit count the packed DIB's own header gives (0 when it has none): it, not the
// description, says how the bytes are laid out.
int HeaderBitCount(HGLOBAL hDib) {
    const size_t size = GlobalSize(hDib);
    const auto* p = static_cast<const BYTE*>(GlobalLock(hDib));
    DibHeaderInfo header;
    const bool read = p && ReadDibHeader(p, size, DibHeaderSource::kPackedDib, &header);
    if (p) GlobalUnlock(hDib);
    return read ? header.header.biBitCount : 0;
}

// Whether the channel can carry the image at all: Published when it can.
// The data section is looked at afresh first: a client may have grown it, or cut
// it for a while (then the image waits until the client gives the room back).
PublishResult ChannelRoomFor(const CDIB& image, SharedChannel& channel) {
    channel.RefreshDataBlock();
    if (!channel.DataBlock() || channel.StatusBlockSize() < kImageInfoOffset + kImageInfoSize)
        return PublishResult::ChannelClosed;
    const size_t packedSize = static_cast<size_t>(image.GetDIBSize());
    // Larger than a section the client shrank for a while: it waits for the room.
    if (packedSize > std::max(channel.DataBlockSize(), channel.LargestDataBlockSize()))
        return PublishResult::TooLarge;
    return PublishResult::Published;
}

// Places the image at once when the channel takes it and nothing waits before it;
// else packs it into the outbox, where it waits for the poll. The channel has room
// for it (ChannelRoomFor).
PublishResult CopyToChannel(const CDIB& image, const TW_IMAGEINFO& info,
                            SharedChannel& channel) {
    const size_t packedSize = static_cast<size_t>(image.GetDIBSize());
    // CDIB's block is laid out as a packed DIB already.
    int32_t status = 0;
    if (channel.Outbox().Empty() && ChannelTakesImage(channel, &status) &&
        PlaceImage(channel, image.m_pBlock, packedSize, info, status))
        return PublishResult::Published;

    HGLOBAL packed = image.CopyToHandle(0, -1, -1, -1);
    if (!packed || GlobalSize(packed) < packedSize) {
        if (packed) GlobalFree(packed);
        return PublishResult::OutOfMemory;
    }
    std::string error;
    if (!channel.Outbox().Push(packed, packedSize, info, &error)) {
        channel.Notice("an image could not wait for the client and was not sent: " + error);
        return PublishResult::SpoolFailed;
    }
    return PublishResult::Queued;
}

}  // namespace

bool DeliverPendingImage(SharedChannel& channel) {
    ChannelOutbox& outbox = channel.Outbox();
    if (outbox.Empty()) return false;
    channel.RefreshDataBlock();
    int32_t status = 0;
    if (!ChannelTakesImage(channel, &status)) return false;
    ChannelOutbox::Image next{};
    std::string error;
    while (!outbox.Pop(&next, &error)) {
        channel.Notice("a waiting image was lost: " + error);
        if (outbox.Empty()) return false;
    }
    // An image larger than a section the client has made smaller waits until the
    // client grows it again, or a new request supersedes it.
    bool placed = next.size <= channel.DataBlockSize();
    if (placed) {
        const void* bytes = GlobalLock(next.packed);
        placed = bytes && PlaceImage(channel, bytes, next.size, next.info, status);
        GlobalUnlock(next.packed);
    }
    if (!placed) {
        outbox.PushFront(next);
        return false;
    }
    GlobalFree(next.packed);
    return true;
}

bool LoadAt24Bits(HGLOBAL hDib, CDIB& image) {
    // A 24-bit image is loaded straight into `image`: one whole-image copy fewer
    // than through a temporary image.
    if (HeaderBitCount(hDib) == 24) return image.CreateFromHandle(hDib, 24) != FALSE;
    CDIB received(nullptr, 8);
    return received.CreateFromHandle(hDib, 8) && ExpandTo24(received, image);
}

const char* PublishResultText(PublishResult result) {
    switch (result) {
        case PublishResult::Published: return "Image sent to the client";
        case PublishResult::Queued:
            return "Image waiting for the client to take the previous one";
        case PublishResult::NoDocument: return "The image was dropped: no document could be opened";
        case PublishResult::Unreadable: return "The image was dropped: the source's bitmap is unreadable";
        case PublishResult::TooLarge:
            return "The image is too large for the client's channel and was not sent";
        case PublishResult::ChannelClosed:
            return "The image was not sent: the client's channel is not open";
        case PublishResult::OutOfMemory: return "The image was not sent: out of memory";
        case PublishResult::SentToRequester: return "Page sent to the client that asked for it";
        case PublishResult::SpoolFailed:
            return "The image was not sent: it could not wait for the client (see the message)";
    }
    return "";
}

PublishResult PublishImage(HGLOBAL hDib, int nBitsPerPixel, const TW_IMAGEINFO& info,
                           ImageDocumentFactory& documents, SharedChannel& channel,
                           ImageSink* streams) {
    ImageDocument* document = documents.OpenNewDocument();
    if (!document) return PublishResult::NoDocument;

    static_cast<void>(nBitsPerPixel);  // the header decides (LoadAt24Bits)
    CDIB& image = document->Image();
    if (!LoadAt24Bits(hDib, image)) {
        document->Discard();
        return PublishResult::Unreadable;
    }
    document->SetResolution(Fix32ToDouble(info.XResolution), Fix32ToDouble(info.YResolution));
    if (streams)
        streams->TakeImage(image.m_pBlock, static_cast<size_t>(image.GetDIBSize()),
                           reinterpret_cast<const unsigned char*>(&info));

    // Packed straight from the document's image: its block is a packed DIB already.
    PublishResult result = ChannelRoomFor(image, channel);
    if (result == PublishResult::Published) result = CopyToChannel(image, info, channel);
    document->UpdateAllViews();
    return result;
}

}  // namespace velomark
