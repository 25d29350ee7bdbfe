#include "bridge/ChannelRequests.h"

#include <algorithm>
#include <cstring>

#include "bridge/ChannelActions.h"
#include "bridge/ChannelLayout.h"
#include "bridge/ImageHandoff.h"
#include "bridge/SharedChannel.h"

namespace velomark {

namespace {

// Writes text and its zero byte at the start of the block, never past its end.
void WriteReply(unsigned char* block, size_t blockSize, const char* text) {
    if (blockSize == 0) return;
    const size_t length = std::min(std::strlen(text), blockSize - 1);
    std::memcpy(block, text, length);
    block[length] = 0;
}

}  // namespace

void PollChannel(SharedChannel& channel, ChannelActions& actions) {
    const int32_t status = channel.LoadStatus();
    if (status == CHANNEL_IMAGE_READY) return;
    if (status != CHANNEL_IDLE) {
        // A client that wrote again since the read wins; its request waits for the
        // next poll.
        if (!channel.ExchangeStatus(status, CHANNEL_IDLE)) return;
        if (status == CHANNEL_SELECT_SOURCE)
            actions.SelectSource();
        else if (status == CHANNEL_ACQUIRE)
            actions.Acquire(-1);
    }
    if (!channel.Outbox().Empty()) DeliverPendingImage(channel);
}

void PollChannel(ChannelActions& actions) { PollChannel(SharedChannel::Instance(), actions); }

void HandleCommandText(SharedChannel& channel, ChannelActions& actions) {
    unsigned char* block = channel.DataBlock();
    if (!block) return;
    char text[kCommandTextMax + 1];
    const size_t limit = std::min(kCommandTextMax, channel.DataBlockSize());
    size_t length = 0;
    while (length < limit && block[length] != 0) {
        text[length] = static_cast<char>(block[length]);
        ++length;
    }
    text[length] = 0;

    if (std::strcmp(text, kSelectSourceCommand) == 0) {
        WriteReply(block, channel.DataBlockSize(), kSelectSourceReply);
        channel.HoldImagesForReply();
        actions.SelectSource();
    } else if (std::strcmp(text, kAcquireCommand) == 0) {
        WriteReply(block, channel.DataBlockSize(), kAcquireReply);
        channel.HoldImagesForReply();
        actions.Acquire(-1);
    }
}

void HandleCommandText(ChannelActions& actions) {
    HandleCommandText(SharedChannel::Instance(), actions);
}

}  // namespace velomark
