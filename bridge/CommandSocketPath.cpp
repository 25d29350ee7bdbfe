#include "bridge/CommandSocketPath.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velomark {

namespace {

// Makes /tmp/velomark-<uid> (mode 0700) or accepts it when it is already there as
// our own private folder; anything else there could be someone else's trap.
bool PreparePrivateFolder(const std::string& folder, std::string& error) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        error = "cannot examine " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    if (info.st_uid != getuid()) {
        error = folder + " belongs to another user";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = folder + " is open to other users (mode must be 0700)";
        return false;
    }
    return true;
}

}  // namespace

std::string CommandSocketPath::FileName() {
    const char* suffix = std::getenv("VELOMARK_CHANNEL_SUFFIX");
    return std::string("velomark") + (suffix ? suffix : "") + ".sock";
}

size_t CommandSocketPath::MaxLength() { return sizeof(sockaddr_un::sun_path) - 1; }

bool CommandSocketPath::Resolve(std::string& path, std::string& error) {
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        folder = runtime;
    } else {
        folder = "/tmp/velomark-" + std::to_string(getuid());
        if (!PreparePrivateFolder(folder, error)) return false;
    }
    std::string candidate = folder + "/" + FileName();
    if (candidate.size() > MaxLength()) {
        error = "socket path too long (" + std::to_string(candidate.size()) + " > " +
                std::to_string(MaxLength()) + " bytes): " + candidate;
        return false;
    }
    path = std::move(candidate);
    return true;
}

}  // namespace velomark
