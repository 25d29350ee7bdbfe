#include "sources/sane/SaneFrameRegion.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SaneFrameRegion::SaneFrameRegion(size_t bytes, std::string* error) {
    m_fd = memfd_create("velomark-sane-frames", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    // Sealed before the worker has it: a file it could shrink would fault the reads here.
    const bool made =
        m_fd >= 0 && ftruncate(m_fd, off_t(bytes)) == 0 &&
        fcntl(m_fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0;
    void* at = made ? mmap(nullptr, bytes, PROT_READ, MAP_SHARED, m_fd, 0) : MAP_FAILED;
    if (at == MAP_FAILED) {
        *error = std::string("no memory for the scanner driver's pages: ") + std::strerror(errno);
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
        return;
    }
    m_map = static_cast<const unsigned char*>(at);
    m_size = bytes;
}

SaneFrameRegion::~SaneFrameRegion() {
    if (m_map) munmap(const_cast<unsigned char*>(m_map), m_size);
    if (m_fd >= 0) close(m_fd);
}
