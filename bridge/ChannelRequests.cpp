#include "bridge/ChannelRequests.h"

#include <cstring>

#include "bridge/ChannelActions.h"
#include "bridge/ChannelLayout.h"
#include "bridge/ImageHandoff.h"
#include "bridge/SharedChannel.h"

namespace velomark {

namespace {

bool IsRequest(int32_t status) {
    return status == CHANNEL_SELECT_SOURCE || status == CHANNEL_ACQUIRE;
}

// A request supersedes the images still waiting from before it (they stay in their
// windows), then runs.
void CarryOut(SharedChannel& channel, ChannelActions& actions, int32_t request) {
    channel.Outbox().Clear();
    if (request == CHANNEL_SELECT_SOURCE)
        actions.SelectSource();
    else
        actions.Acquire(-1);
}

// An acquire request that comes while an acquisition runs joins it: the images
// waiting from before it leave the queue, the pages transferred from now on are the
// client's (a second Acquire would only be refused by the enabled source).
void Join(SharedChannel& channel) {
    channel.Outbox().Clear();
    channel.JoinRunningAcquisition();
}

}  // namespace

void PollChannel(SharedChannel& channel, ChannelActions& actions) {
    const int32_t status = channel.LoadStatus();
    if (status == CHANNEL_IMAGE_READY) return;
    // The client stored 0 or asked anew after the 5: it has the image placed last.
    channel.NotePlacedImageTaken();
    const bool running = actions.AcquisitionRunning();
    // A select waits in the word for the source to close: an enabled source is not
    // to be replaced. Any request waits while another requester's job runs.
    if (IsRequest(status) && (actions.OtherRequesterJobRunning() ||
                              (status == CHANNEL_SELECT_SOURCE && running)))
        return;
    if (status != CHANNEL_IDLE) {
        // A client that wrote again since the read wins; its request waits for the
        // next poll.
        if (!channel.ExchangeStatus(status, CHANNEL_IDLE)) return;
        if (status == CHANNEL_ACQUIRE && running)
            Join(channel);
        else if (IsRequest(status))
            CarryOut(channel, actions, status);
    } else if (channel.DeferredRequest() != 0 && !actions.AcquisitionRunning()) {
        const int32_t request = channel.DeferredRequest();
        channel.SetDeferredRequest(0);
        CarryOut(channel, actions, request);
    }
    if (!channel.Outbox().Empty()) DeliverPendingImage(channel);
}

void PollChannel(ChannelActions& actions) { PollChannel(SharedChannel::Instance(), actions); }

void HandleCommandText(SharedChannel& channel, ChannelActions& actions) {
    char text[kCommandTextMax + 1];
    if (!channel.ReadText(text, kCommandTextMax)) return;

    int32_t request = CHANNEL_IDLE;
    if (std::strcmp(text, kSelectSourceCommand) == 0) {
        channel.WriteText(kSelectSourceReply);
        request = CHANNEL_SELECT_SOURCE;
    } else if (std::strcmp(text, kAcquireCommand) == 0) {
        channel.WriteText(kAcquireReply);
        request = CHANNEL_ACQUIRE;
    } else {
        return;
    }
    // The command overwrote whatever image stood in the data block.
    channel.NotePlacedImageTaken();
    channel.HoldImagesForReply();
    if (!actions.AcquisitionRunning())
        CarryOut(channel, actions, request);
    else if (request == CHANNEL_ACQUIRE && !actions.OtherRequesterJobRunning())
        Join(channel);
    else
        channel.SetDeferredRequest(request);
}

void HandleCommandText(ChannelActions& actions) {
    HandleCommandText(SharedChannel::Instance(), actions);
}

}  // namespace velomark
