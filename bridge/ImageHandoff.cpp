#include "bridge/ImageHandoff.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/ChannelLayout.h"
#include "bridge/ImageDocument.h"
#include "bridge/ImageSink.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"
#include "dib/DibExpand.h"
#include "dib/DibLayout.h"
#include "dib/PackedDib.h"

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

// Copies the packed image (its first `headSize` bytes, then `restSize` more from
// `rest`) and its description, then sets 5 with one compare-and-exchange against the
// word read (release ordering: a client that reads 5 finds both complete). False
// when the client wrote the word meanwhile (its word wins and the image has to
// wait), or damaged a section under the copy.
bool PlaceImage(SharedChannel& channel, const void* head, size_t headSize, const void* rest,
                size_t restSize, const TW_IMAGEINFO& info, int32_t status) {
    // The word is not 5: the client took the image placed before (if it did not
    // yet, the poll would have seen 5).
    channel.NotePlacedImageTaken();
    if (!channel.WriteData(0, head, headSize) ||
        (restSize > 0 && !channel.WriteData(headSize, rest, restSize)) ||
        !channel.WriteStatusBlock(kImageInfoOffset, &info, kImageInfoSize) ||
        !channel.ExchangeStatus(status, CHANNEL_IMAGE_READY))
        return false;
    channel.NoteImagePlaced();
    return true;
}

bool PlaceImage(SharedChannel& channel, const void* packed, size_t size,
                const TW_IMAGEINFO& info, int32_t status) {
    return PlaceImage(channel, packed, size, nullptr, 0, info, status);
}

// Whether the channel can carry the image at all: Published when it can.
// The data section is looked at afresh first: a client may have grown it, or cut
// it for a while (then the image waits until the client gives the room back).
PublishResult ChannelRoomFor(size_t packedSize, SharedChannel& channel) {
    channel.RefreshDataBlock();
    if (!channel.DataBlock() || channel.StatusBlockSize() < kImageInfoOffset + kImageInfoSize)
        return PublishResult::ChannelClosed;
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

// A 24-bit page stored bottom row first is in the channel's layout already, but for
// its header: it goes to the client straight from the source's block, before it is
// decoded into the page's own bitmap (whose fresh memory costs a fault per page).
// The header is the one the decoded page holds. True when it was placed.
bool PlaceFromSourceBlock(const PackedDib& packed, const TW_IMAGEINFO& info,
                          SharedChannel& channel) {
    if (!channel.Outbox().Empty() || packed.header.biBitCount != 24 || packed.topDown)
        return false;
    BITMAPINFOHEADER header = packed.header;
    header.biClrUsed = 0;
    header.biClrImportant = 0;
    const size_t rowBytes = static_cast<size_t>(packed.stride) * packed.height;
    int32_t status = 0;
    return ChannelRoomFor(sizeof header + rowBytes, channel) == PublishResult::Published &&
           ChannelTakesImage(channel, &status) &&
           PlaceImage(channel, &header, sizeof header, packed.rows, rowBytes, info, status);
}

// One pass over the pixels either way: a copy, or the expansion.
bool DecodeAt24Bits(const PackedDib& packed, CDIB& image) {
    const bool loaded = packed.header.biBitCount == 24 ? image.CreateFromPacked(packed) != FALSE
                                                       : ExpandTo24(packed, image);
    if (!loaded) image.Destroy();
    return loaded;
}

// The page written in place becomes a private copy-on-write mapping of the same
// file, so that the document's changes never reach the streams and the page holds
// nothing of the room's writable bytes; a copy only when no mapping can be made.
void TakeCopyOnWriteView(ImageInPlace& room, CDIB& page) {
    CDIB view;
    void* mapping = room.MapPrivately();
    if (!mapping || !view.AdoptMapping(mapping, room.Size())) view.CopyFrom(page);
    page.SwapImage(view);  // empty when not even a copy could be made
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
    const auto* p = static_cast<const BYTE*>(GlobalLock(hDib));
    PackedDib packed;
    const bool loaded = ReadPackedDib(p, GlobalSize(hDib), &packed) && DecodeAt24Bits(packed, image);
    if (p) GlobalUnlock(hDib);
    if (!loaded) image.Destroy();
    return loaded;
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
    static_cast<void>(nBitsPerPixel);  // the header decides (LoadAt24Bits)
    // The source's block is read once, for the placement and the decoding.
    const auto* p = static_cast<const BYTE*>(GlobalLock(hDib));
    PackedDib packed;
    const bool readable = ReadPackedDib(p, GlobalSize(hDib), &packed);
    const bool placed = readable && PlaceFromSourceBlock(packed, info, channel);
    const auto* description = reinterpret_cast<const unsigned char*>(&info);
    CDIB page(nullptr, 24);
    // With a stream open, the page is decoded straight into the file the streams send.
    std::unique_ptr<ImageInPlace> room;
    DibLayout layout;
    if (readable && streams && ComputeDibLayout(packed.width, packed.height, 24, &layout)) {
        room = streams->BeginImage(static_cast<size_t>(layout.packedBytes));
        if (room) page.PlaceNextIn(room->Bytes(), room->Size());
    }
    const bool decoded = readable && DecodeAt24Bits(packed, page);
    if (p) GlobalUnlock(hDib);
    // A readable block fails to decode only for want of memory.
    if (!decoded) return placed ? PublishResult::Published : PublishResult::Unreadable;
    const bool inPlace = room && page.InPlacedBlock();
    if (streams && !inPlace)
        streams->TakeImage(page.m_pBlock, static_cast<size_t>(page.GetDIBSize()), description);
    // Else packed straight from the page: its block is a packed DIB already.
    PublishResult result = PublishResult::Published;
    if (!placed) {
        result = ChannelRoomFor(static_cast<size_t>(page.GetDIBSize()), channel);
        if (result == PublishResult::Published) result = CopyToChannel(page, info, channel);
    }
    if (inPlace) {
        TakeCopyOnWriteView(*room, page);
        room->Publish(description);
    }

    ImageDocument* document = page.m_pBlock ? documents.OpenNewDocument() : nullptr;
    if (!document) {
        const bool reachedClient =
            result == PublishResult::Published || result == PublishResult::Queued;
        return reachedClient ? result : PublishResult::NoDocument;
    }
    document->Image().SwapImage(page);
    document->SetResolution(Fix32ToDouble(info.XResolution), Fix32ToDouble(info.YResolution));
    document->UpdateAllViews();
    return result;
}

}  // namespace velomark
