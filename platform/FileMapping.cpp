#include "platform/FileMapping.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace {

// One open section: the descriptor holding the shared flock, alive while its
// handle or any of its views is.
struct Section {
    int fd = -1;
    std::string objectName;
    int users = 0;
};

struct View {
    Section* section;
    size_t size;
};

std::mutex g_lock;
std::set<Section*> g_handles;
std::map<const void*, View> g_views;
thread_local DWORD t_lastError = ERROR_SUCCESS;

// How long an opener waits for a section that its creator has not sized yet.
constexpr int kSizeWaitAttempts = 200;
constexpr auto kSizeWaitStep = std::chrono::milliseconds(1);
// How often an opener retries when the section vanished while it opened it.
constexpr int kReopenAttempts = 20;

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EFBIG: return ERROR_DISK_FULL;
        case ENOMEM:
        case EMFILE:
        case ENFILE: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_INVALID_PARAMETER;
    }
}

HANDLE Fail(DWORD error) {
    t_lastError = error;
    return nullptr;
}

// Whether the name still refers to the object behind fd: a last user may have
// unlinked it between our open and our lock.
bool NameStillNames(const std::string& objectName, int fd) {
    int probe = shm_open(objectName.c_str(), O_RDONLY, 0);
    if (probe < 0) return false;
    struct stat a{}, b{};
    bool same = fstat(fd, &a) == 0 && fstat(probe, &b) == 0 && a.st_dev == b.st_dev &&
                a.st_ino == b.st_ino;
    close(probe);
    return same;
}

// Drops one user; the last one closes the descriptor, and unlinks the name when
// no other process holds the section (an exclusive lock then succeeds).
void ReleaseLocked(Section* section) {
    if (--section->users > 0) return;
    if (flock(section->fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(section->objectName.c_str());
    close(section->fd);
    delete section;
}

HANDLE Register(int fd, const std::string& objectName) {
    auto* section = new Section{fd, objectName, 1};
    std::lock_guard<std::mutex> guard(g_lock);
    g_handles.insert(section);
    return section;
}

// Opens an existing object with a shared lock, once its creator has sized it.
// -1 with errno set when it does not exist (any more).
int OpenExisting(const std::string& objectName) {
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        int fd = shm_open(objectName.c_str(), O_RDWR, 0);
        if (fd < 0) return -1;
        for (int wait = 0;; ++wait) {
            if (flock(fd, LOCK_SH) != 0) {
                int error = errno;
                close(fd);
                errno = error;
                return -1;
            }
            struct stat st{};
            if (fstat(fd, &st) == 0 && st.st_size > 0) break;
            if (wait >= kSizeWaitAttempts) break;  // a size-0 section stays what it is
            flock(fd, LOCK_UN);                    // let its creator take its exclusive lock
            std::this_thread::sleep_for(kSizeWaitStep);
        }
        if (NameStillNames(objectName, fd)) return fd;
        close(fd);
    }
    errno = ENOENT;
    return -1;
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE hFile, void* /*lpAttributes*/, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, const char* lpName) {
    if (hFile != INVALID_HANDLE_VALUE || flProtect != PAGE_READWRITE || !lpName || !*lpName)
        return Fail(ERROR_INVALID_PARAMETER);
    const uint64_t size = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    if (size == 0) return Fail(ERROR_INVALID_PARAMETER);
    const std::string objectName = std::string("/") + lpName;

    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            // Nobody may use it before it has its size: hold it exclusively until then.
            flock(fd, LOCK_EX);
            // The memory is reserved now, so that a full /dev/shm fails here, with a
            // clear error, instead of as SIGBUS at some later write.
            int reserved = ftruncate(fd, static_cast<off_t>(size)) == 0
                               ? posix_fallocate(fd, 0, static_cast<off_t>(size))
                               : errno;
            if (reserved != 0) {
                errno = reserved;
                int error = errno;
                shm_unlink(objectName.c_str());
                close(fd);
                return Fail(ErrorFromErrno(error));
            }
            flock(fd, LOCK_SH);
            HANDLE handle = Register(fd, objectName);
            t_lastError = ERROR_SUCCESS;
            return handle;
        }
        if (errno != EEXIST) return Fail(ErrorFromErrno(errno));
        fd = OpenExisting(objectName);
        if (fd >= 0) {
            HANDLE handle = Register(fd, objectName);
            t_lastError = ERROR_ALREADY_EXISTS;
            return handle;
        }
        if (errno != ENOENT) return Fail(ErrorFromErrno(errno));
        // The last user unlinked it meanwhile: create it afresh.
    }
    return Fail(ERROR_ACCESS_DENIED);
}

HANDLE OpenFileMappingA(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, const char* lpName) {
    if (!lpName || !*lpName) return Fail(ERROR_INVALID_PARAMETER);
    const std::string objectName = std::string("/") + lpName;
    int fd = OpenExisting(objectName);
    if (fd < 0) return Fail(ErrorFromErrno(errno));
    HANDLE handle = Register(fd, objectName);
    t_lastError = ERROR_SUCCESS;
    return handle;
}

void* MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                    DWORD dwFileOffsetLow, size_t dwNumberOfBytesToMap) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto* section = static_cast<Section*>(hFileMappingObject);
    if (!g_handles.count(section)) {
        t_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    struct stat st{};
    if (fstat(section->fd, &st) != 0) {
        t_lastError = ErrorFromErrno(errno);
        return nullptr;
    }
    const uint64_t objectSize = static_cast<uint64_t>(st.st_size);
    const long page = sysconf(_SC_PAGESIZE);
    if (offset >= objectSize || offset % static_cast<uint64_t>(page) != 0) {
        t_lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    size_t bytes = dwNumberOfBytesToMap;
    if (bytes == 0) bytes = static_cast<size_t>(objectSize - offset);
    if (bytes > objectSize - offset) {
        t_lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    int protection = PROT_READ;
    if (dwDesiredAccess & FILE_MAP_WRITE) protection |= PROT_WRITE;
    void* view = mmap(nullptr, bytes, protection, MAP_SHARED, section->fd,
                      static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        t_lastError = ErrorFromErrno(errno);
        return nullptr;
    }
    ++section->users;
    g_views[view] = View{section, bytes};
    t_lastError = ERROR_SUCCESS;
    return view;
}

BOOL UnmapViewOfFile(const void* lpBaseAddress) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_views.find(lpBaseAddress);
    if (it == g_views.end()) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    munmap(const_cast<void*>(lpBaseAddress), it->second.size);
    Section* section = it->second.section;
    g_views.erase(it);
    ReleaseLocked(section);
    return TRUE;
}

size_t MappingObjectSize(HANDLE hFileMappingObject) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto* section = static_cast<Section*>(hFileMappingObject);
    struct stat st{};
    if (!g_handles.count(section) || fstat(section->fd, &st) != 0) return 0;
    return static_cast<size_t>(st.st_size);
}

BOOL GrowMappingObject(HANDLE hFileMappingObject, uint64_t size) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto* section = static_cast<Section*>(hFileMappingObject);
    struct stat st{};
    if (!g_handles.count(section) || fstat(section->fd, &st) != 0) {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (static_cast<uint64_t>(st.st_size) >= size) return TRUE;
    const int error = posix_fallocate(section->fd, 0, static_cast<off_t>(size));
    if (error != 0) {
        t_lastError = ErrorFromErrno(error);
        return FALSE;
    }
    return TRUE;
}

size_t MappedViewSize(const void* lpBaseAddress) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_views.find(lpBaseAddress);
    return it == g_views.end() ? 0 : it->second.size;
}

BOOL CloseHandle(HANDLE hObject) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto* section = static_cast<Section*>(hObject);
    if (!g_handles.erase(section)) {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    ReleaseLocked(section);
    return TRUE;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
