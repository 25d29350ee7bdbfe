#include "sources/sane/SaneWorkerWire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/LittleEndian.h"

namespace sane_wire {

void Writer::Put(uint64_t value, size_t bytes) {
    const size_t at = m_bytes.size();
    m_bytes.resize(at + bytes);
    velomark::PutLittleEndian(m_bytes.data() + at, value, bytes);
}

void Writer::Bytes(const void* data, size_t size) {
    U32(static_cast<uint32_t>(size));
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (size) m_bytes.insert(m_bytes.end(), bytes, bytes + size);
}

void Writer::Text(const std::string& text) {
    Bytes(text.data(), text.size() < kMaxText ? text.size() : kMaxText);
}

bool Reader::Take(size_t count, const unsigned char** at) {
    if (!m_ok || count > m_size - m_offset) return m_ok = false;
    *at = m_data + m_offset;
    m_offset += count;
    return true;
}

bool Reader::U32(uint32_t* value) {
    const unsigned char* at = nullptr;
    if (!Take(4, &at)) return false;
    *value = velomark::GetU32(at);
    return true;
}

bool Reader::I32(int32_t* value) {
    uint32_t word = 0;
    if (!U32(&word)) return false;
    *value = static_cast<int32_t>(word);
    return true;
}

bool Reader::U64(uint64_t* value) {
    const unsigned char* at = nullptr;
    if (!Take(8, &at)) return false;
    *value = velomark::GetLittleEndian(at, 8);
    return true;
}

bool Reader::Bytes(std::vector<unsigned char>* bytes, long expected) {
    uint32_t size = 0;
    const unsigned char* at = nullptr;
    if (!U32(&size)) return false;
    if (expected >= 0 && size != static_cast<unsigned long>(expected)) return m_ok = false;
    if (!Take(size, &at)) return false;
    bytes->assign(at, at + size);
    return true;
}

bool Reader::Text(std::string* text) {
    uint32_t size = 0;
    const unsigned char* at = nullptr;
    if (!U32(&size) || size > kMaxText || !Take(size, &at)) return m_ok = false;
    text->assign(reinterpret_cast<const char*>(at), size);
    return true;
}

bool Send(int socket, const std::vector<unsigned char>& packet, int passFd) {
    if (packet.size() > kMaxPacket) return false;
    iovec part{const_cast<unsigned char*>(packet.data()), packet.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (passFd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &passFd, sizeof(int));
    }
    ssize_t sent;
    do sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(packet.size());
}

int Receive(int socket, std::vector<unsigned char>* packet, int* fd) {
    *fd = -1;
    packet->resize(kMaxPacket + 1);
    iovec part{packet->data(), packet->size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    if (got <= 0) return -1;
    packet->resize(static_cast<size_t>(got));
    int passed = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received = -1;
            std::memcpy(&received, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            if (passed++ == 0)
                *fd = received;
            else
                close(received);
        }
    }
    const bool malformed = passed > 1 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ||
                           packet->size() > kMaxPacket;
    if (malformed && *fd >= 0) {
        close(*fd);
        *fd = -1;
    }
    return malformed ? -2 : 0;
}

}  // namespace sane_wire
