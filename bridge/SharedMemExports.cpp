#include "bridge/SharedMemExports.h"

#include "bridge/SharedChannel.h"

using velomark::SharedChannel;

extern "C" void GetSharedMem(char* buffer, int capacity) {
    if (!buffer || capacity < 1) return;
    // Read through the channel's guard, so that a client shrinking the section
    // cannot end the caller; a damaged read gives the empty text.
    SharedChannel::Instance().ReadText(buffer, static_cast<size_t>(capacity) - 1);
}

extern "C" void SetSharedMem(const char* text) {
    SharedChannel::Instance().WriteText(text);
}
