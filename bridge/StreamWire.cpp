#include "bridge/StreamWire.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "bridge/LittleEndian.h"

namespace velomark {

void StreamWire::Encode(const StreamHeader& header, unsigned char* out) {
    std::memset(out, 0, kStreamHeaderSize);
    PutLittleEndian(out, header.magic, 4);
    PutLittleEndian(out + 4, header.kind, 4);
    PutLittleEndian(out + 8, header.size, 8);
    PutLittleEndian(out + 16, header.sequence, 4);
    PutLittleEndian(out + 20, header.reserved, 4);
    std::memcpy(out + kStreamInfoOffset, header.info, kStreamInfoSize);
}

StreamHeader StreamWire::Decode(const unsigned char* in) {
    StreamHeader header;
    header.magic = static_cast<uint32_t>(GetLittleEndian(in, 4));
    header.kind = static_cast<uint32_t>(GetLittleEndian(in + 4, 4));
    header.size = GetLittleEndian(in + 8, 8);
    header.sequence = static_cast<uint32_t>(GetLittleEndian(in + 16, 4));
    header.reserved = static_cast<uint32_t>(GetLittleEndian(in + 20, 4));
    std::memcpy(header.info, in + kStreamInfoOffset, kStreamInfoSize);
    return header;
}

ssize_t StreamWire::Send(int socket, const void* bytes, size_t length, const int* fds,
                         size_t count, int flags) {
    if (count > kMaxDescriptors) {
        errno = EINVAL;
        return -1;
    }
    iovec part{const_cast<void*>(bytes), length};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxDescriptors)] = {};
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int) * count);
        std::memcpy(CMSG_DATA(rights), fds, sizeof(int) * count);
    }
    return sendmsg(socket, &message, flags);
}

}  // namespace velomark
