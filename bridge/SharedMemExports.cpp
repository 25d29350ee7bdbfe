#include "bridge/SharedMemExports.h"

#include <algorithm>
#include <cstring>

#include "bridge/SharedChannel.h"

using velomark::SharedChannel;

extern "C" void GetSharedMem(char* buffer, int capacity) {
    if (!buffer || capacity < 1) return;
    const SharedChannel& channel = SharedChannel::Instance();
    const unsigned char* block = channel.DataBlock();
    if (!block) {
        buffer[0] = 0;
        return;
    }
    const size_t limit =
        std::min(static_cast<size_t>(capacity) - 1, channel.DataBlockSize());
    size_t length = 0;
    while (length < limit && block[length] != 0) {
        buffer[length] = static_cast<char>(block[length]);
        ++length;
    }
    buffer[length] = 0;
}

extern "C" void SetSharedMem(const char* text) {
    SharedChannel& channel = SharedChannel::Instance();
    unsigned char* block = channel.DataBlock();
    if (!block || channel.DataBlockSize() == 0) return;
    const size_t limit = channel.DataBlockSize() - 1;
    size_t length = 0;
    if (text) {
        while (length < limit && text[length] != 0) ++length;
        std::memcpy(block, text, length);
    }
    block[length] = 0;
}
