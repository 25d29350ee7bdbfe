// A test's own server on the command socket, which says what a test scripts: the
// listener, sealed image files, event headers and the one send with descriptors.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bridge/StreamWire.h"

namespace velomark::testing {

inline int ListenAt(const std::string& path) {
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(listener, 4), 0);
    return listener;
}

// A memory file holding a small packed 24-bit image (2 x 2), sealed or not.
inline int ImageFile(bool sealed) {
    unsigned char dib[40 + 16] = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    const int fd = memfd_create("scripted", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    EXPECT_EQ(write(fd, dib, sizeof(dib)), static_cast<ssize_t>(sizeof(dib)));
    if (sealed) fcntl(fd, F_ADD_SEALS, velomark::kStreamImageSeals);
    return fd;
}

inline std::vector<unsigned char> Header(uint32_t magic, uint64_t size,
                                         uint32_t kind = STREAM_IMAGE, uint32_t sequence = 1) {
    StreamHeader header;
    header.magic = magic;
    header.kind = kind;
    header.size = size;
    header.sequence = sequence;
    std::vector<unsigned char> bytes(kStreamHeaderSize);
    StreamWire::Encode(header, bytes.data());
    return bytes;
}

inline void SendWith(int fd, const std::vector<unsigned char>& bytes, const std::vector<int>& fds) {
    EXPECT_EQ(
        StreamWire::Send(fd, bytes.data(), bytes.size(), fds.data(), fds.size(), MSG_NOSIGNAL),
        static_cast<ssize_t>(bytes.size()));
    for (int sent : fds) close(sent);
}

}  // namespace velomark::testing
