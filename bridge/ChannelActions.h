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
};

}  // namespace velomark
