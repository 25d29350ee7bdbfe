// The road of one acquired image: a new document that shows it at 24 bits, and
// the packed image with its description in the shared channel for the client.
#pragma once

#include "platform/GlobalMemory.h"
#include "twain/TwainTypes.h"

class CDIB;

namespace velomark {

class ImageDocumentFactory;
class ImageSink;
class SharedChannel;

enum class PublishResult {
    Published,      // in its window and in the channel, status 5
    Queued,         // in its window; waits until the client took the previous image
    NoDocument,     // no document could be made and the channel did not take it: dropped
    Unreadable,     // the DIB was refused or could not be expanded: dropped
    TooLarge,       // in its window; larger than the data block, channel untouched
    ChannelClosed,  // in its window; the channel is not mapped
    OutOfMemory,    // in its window; no memory to pack it for the channel
    SpoolFailed,    // in its window; it could not wait (spool file full or unwritable)
    SentToRequester,  // a page of a job with a ticket: to its requester alone, no window
};

// Short text for the status bar: why an image did not reach the client.
const char* PublishResultText(PublishResult result);

// One acquired image: `hDib` is the native transfer's packed DIB (read only, the
// caller frees it), `nBitsPerPixel` the description's BitsPerPixel (the DIB's own
// header decides: LoadAt24Bits), `info` copied to the status block. The page is
// decoded once, into the bitmap the document then takes over; the clients have it
// first: `streams`, when given, and the channel (or its queue) get it before the
// document and its window are made, so an unreadable image opens no window.
PublishResult PublishImage(HGLOBAL hDib, int nBitsPerPixel, const TW_IMAGEINFO& info,
                           ImageDocumentFactory& documents, SharedChannel& channel,
                           ImageSink* streams = nullptr);

// Places the oldest waiting image of the channel's outbox when the client has
// taken the previous one (the status word is neither 5 nor a request not yet taken
// up) and no command reply is being held for the client. Status 5 is set with one
// compare-and-exchange, so a request that the client writes meanwhile is kept and
// the image waits on; so does an image whose copy a damaged section cut short, or
// that is larger than the section has become. True when one was placed.
bool DeliverPendingImage(SharedChannel& channel);

// The packed DIB in `hDib` into `image` at 24 bits: copied when its own header says
// 24 bits (the description may disagree; the header says how the bytes lie), else
// expanded straight from the block. False, with `image` empty, for a bitmap that is
// unreadable or has no expansion.
bool LoadAt24Bits(HGLOBAL hDib, CDIB& image);

}  // namespace velomark
