#include "bridge/SpoolFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace velomark {

namespace {

std::string ErrorText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

SpoolFile::~SpoolFile() {
    if (m_fd >= 0) close(m_fd);
}

std::filesystem::path SpoolFile::Folder() {
    // A relative XDG_CACHE_HOME is ignored, as the base-directory convention asks.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::filesystem::path(cache) / "velomark";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::filesystem::path(home) / ".cache" / "velomark";
    return {};
}

bool SpoolFile::Create(std::string* error) {
    const std::filesystem::path folder = Folder();
    if (folder.empty()) {
        *error = "no cache folder (neither XDG_CACHE_HOME nor HOME is set)";
        return false;
    }
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        *error = ErrorText("cannot make " + folder.string(), made.value());
        return false;
    }
    m_fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: make one and unlink it at once.
        std::string name = (folder / "spool-XXXXXX").string();
        m_fd = mkostemp(name.data(), O_CLOEXEC);
        if (m_fd >= 0) unlink(name.c_str());
    }
    if (m_fd < 0) {
        *error = ErrorText("cannot make a spool file in " + folder.string(), errno);
        return false;
    }
    m_end = 0;
    return true;
}

bool SpoolFile::Append(const void* bytes, size_t size, uint64_t* offset, std::string* error) {
    if (m_fd < 0 && !Create(error)) return false;
    const auto* p = static_cast<const unsigned char*>(bytes);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(m_fd, p + done, size - done, static_cast<off_t>(m_end + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int reason = n < 0 ? errno : ENOSPC;
            // The end stays where it was: the next image is written over this part.
            *error = ErrorText("cannot write the spool file in " + Folder().string(), reason);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    *offset = m_end;
    m_end += size;
    return true;
}

bool SpoolFile::Read(uint64_t offset, void* bytes, size_t size, std::string* error) const {
    if (m_fd < 0 || offset > m_end || size > m_end - offset) {
        *error = "the spool file does not hold that image";
        return false;
    }
    auto* p = static_cast<unsigned char*>(bytes);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(m_fd, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = ErrorText("cannot read the spool file", n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void SpoolFile::Reset() {
    if (m_fd >= 0 && m_end > 0 && ftruncate(m_fd, 0) == 0) m_end = 0;
}

}  // namespace velomark
