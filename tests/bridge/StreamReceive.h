// What a stream client receives, read back the way a client does: the next image
// event's memory file, which must be sealed and exactly as large as announced.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bridge/StreamWire.h"

namespace velomark {

// The bytes of the memory file that came with the next image event.
inline std::string ReceiveImage(int fd) {
    unsigned char header[kStreamHeaderSize];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    iovec part{header, sizeof(header)};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    if (recvmsg(fd, &message, MSG_WAITALL) != kStreamHeaderSize) return "no event";
    int file;
    std::memcpy(&file, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof(int));
    const uint64_t size = StreamWire::Decode(header).size;
    std::string bytes(size, '\0');
    const bool sealed = fcntl(file, F_GET_SEALS) ==
                        kStreamImageSeals;
    const bool read = pread(file, bytes.data(), size, 0) == static_cast<ssize_t>(size) &&
                      lseek(file, 0, SEEK_END) == static_cast<off_t>(size);
    close(file);
    return sealed && read ? bytes : "unsealed or wrong size";
}

}  // namespace velomark
