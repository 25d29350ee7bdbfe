#include "bridge/ImageHandoff.h"

#include <algorithm>
#include <cstring>

#include "bridge/ChannelLayout.h"
#include "bridge/ImageDocument.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"

namespace velomark {

namespace {

static_assert(sizeof(TW_IMAGEINFO) == kImageInfoSize, "the description is 42 bytes");

// Packs the image for the client and places it, or leaves it waiting in the
// outbox while the client still has the previous one.
PublishResult CopyToChannel(const CDIB& image, const TW_IMAGEINFO& info,
                            SharedChannel& channel) {
    if (!channel.DataBlock() || channel.StatusBlockSize() < kImageInfoOffset + kImageInfoSize)
        return PublishResult::ChannelClosed;
    const size_t packedSize = static_cast<size_t>(image.GetDIBSize());
    if (packedSize > std::min(kChannelBlockSize, channel.DataBlockSize()))
        return PublishResult::TooLarge;

    HGLOBAL packed = image.CopyToHandle(0, -1, -1, -1);
    if (!packed || GlobalSize(packed) < packedSize) {
        if (packed) GlobalFree(packed);
        return PublishResult::OutOfMemory;
    }
    channel.Outbox().Push(packed, packedSize, info);
    return DeliverPendingImage(channel) && channel.Outbox().Empty() ? PublishResult::Published
                                                                    : PublishResult::Queued;
}

}  // namespace

bool DeliverPendingImage(SharedChannel& channel) {
    ChannelOutbox& outbox = channel.Outbox();
    if (outbox.Empty() || !channel.DataBlock() || !channel.HasStatusWord() ||
        channel.ImagesHeldForReply())
        return false;
    const int32_t status = channel.LoadStatus();
    if (status == CHANNEL_IMAGE_READY || status == CHANNEL_SELECT_SOURCE ||
        status == CHANNEL_ACQUIRE)
        return false;

    const ChannelOutbox::Image next = outbox.Pop();
    const void* bytes = GlobalLock(next.packed);
    std::memcpy(channel.DataBlock(), bytes, next.size);
    GlobalUnlock(next.packed);
    std::memcpy(channel.StatusBlock() + kImageInfoOffset, &next.info, kImageInfoSize);
    // Release ordering: a client that reads 5 finds the image and its description.
    if (!channel.ExchangeStatus(status, CHANNEL_IMAGE_READY)) {
        outbox.PushFront(next);  // the client wrote meanwhile: its word wins
        return false;
    }
    GlobalFree(next.packed);
    return true;
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
    }
    return "";
}

PublishResult PublishImage(HGLOBAL hDib, int nBitsPerPixel, const TW_IMAGEINFO& info,
                           ImageDocumentFactory& documents, CDIB& dibShared,
                           SharedChannel& channel) {
    ImageDocument* document = documents.OpenNewDocument();
    if (!document) return PublishResult::NoDocument;

    CDIB received(nullptr, 8);
    CDIB& image = document->Image();
    bool loaded = received.CreateFromHandle(hDib, nBitsPerPixel);
    if (loaded) {
        // The description's bit count decides, not the bitmap header's.
        if (nBitsPerPixel == 24)
            loaded = image.CopyFrom(received);
        else
            loaded = ExpandTo24(received, image);
    }
    if (!loaded) {
        document->Discard();
        return PublishResult::Unreadable;
    }

    PublishResult result = PublishResult::OutOfMemory;
    if (dibShared.CopyFrom(image)) result = CopyToChannel(dibShared, info, channel);
    document->UpdateAllViews();
    return result;
}

}  // namespace velomark
