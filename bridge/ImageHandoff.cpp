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

// Packs the image and places it with its description, status 5 stored last with
// release ordering so that a client that reads 5 finds both complete.
PublishResult CopyToChannel(const CDIB& image, const TW_IMAGEINFO& info,
                            SharedChannel& channel) {
    unsigned char* data = channel.DataBlock();
    unsigned char* status = channel.StatusBlock();
    if (!data || !status || channel.StatusBlockSize() < kImageInfoOffset + kImageInfoSize)
        return PublishResult::ChannelClosed;
    const size_t packedSize = static_cast<size_t>(image.GetDIBSize());
    if (packedSize > std::min(kChannelBlockSize, channel.DataBlockSize()))
        return PublishResult::TooLarge;

    HGLOBAL packed = image.CopyToHandle(0, -1, -1, -1);
    if (!packed) return PublishResult::OutOfMemory;
    const void* bytes = GlobalLock(packed);
    if (!bytes || GlobalSize(packed) < packedSize) {
        GlobalUnlock(packed);
        GlobalFree(packed);
        return PublishResult::OutOfMemory;
    }
    std::memcpy(data, bytes, packedSize);
    GlobalUnlock(packed);
    GlobalFree(packed);

    std::memcpy(status + kImageInfoOffset, &info, kImageInfoSize);
    channel.StoreStatus(CHANNEL_IMAGE_READY);
    return PublishResult::Published;
}

}  // namespace

const char* PublishResultText(PublishResult result) {
    switch (result) {
        case PublishResult::Published: return "Image sent to the client";
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
