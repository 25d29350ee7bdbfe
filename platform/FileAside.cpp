#include "platform/FileAside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velomark {

std::string ReasonOfErrno(int error, const char* fallback) {
    return error != 0 ? std::string(std::strerror(error)) : std::string(fallback);
}

bool WriteFileAside(const std::string& path, const FileFiller& fill, std::string& reason) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temporary = folder + "." + name + ".saving";

    // The new file takes the permissions of the one it replaces.
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0666;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        reason =
            "no file can be created in its folder (" + ReasonOfErrno(errno, "unknown reason") + ")";
        return false;
    }
    ::close(fd);

    auto fail = [&](std::string why) {
        ::unlink(temporary.c_str());
        reason = std::move(why);
        return false;
    };
    errno = 0;
    std::string written;
    if (!fill(temporary, written))
        return fail(written.empty() ? "the file could not be written" : written);
    // On the disk before it takes the name, so that a crash never leaves a short file.
    const int sync = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (sync < 0 || ::fsync(sync) != 0) {
        const int error = errno;
        if (sync >= 0) ::close(sync);
        return fail(ReasonOfErrno(error, "the file could not be flushed"));
    }
    ::close(sync);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        return fail(ReasonOfErrno(errno, "cannot replace it"));
    return true;
}

}  // namespace velomark
