// What the channel's requests set in motion: the two TWAIN operations of the
// main frame. Tests implement it to count the calls.
#pragma once

#include "platform/WinTypes.h"

namespace velomark {

class ChannelActions {
public:
    virtual ~ChannelActions() = default;
    virtual BOOL SelectSource() = 0;
    virtual BOOL Acquire(int nImages) = 0;
    // True while an acquisition runs or its source has not closed yet: a request
    // then waits until it has, instead of meeting an enabled source that would
    // refuse it.
    virtual bool AcquisitionRunning() const { return false; }
    // A job of another requester runs (a stream with a ticket): its pages are not
    // the channel's to join, so a request waits in the word until it has ended.
    virtual bool OtherRequesterJobRunning() const { return false; }
};

}  // namespace velomark
