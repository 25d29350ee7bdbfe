// BMP files a user opens: the input is the whole file, read through a memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dib/Dib.h"
#include "fuzz/DibTouch.h"

namespace {

// One memory file for every input, rewritten each time.
const std::string& InputPath(int* fd) {
    static int file = memfd_create("velomark-fuzz-bmp", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(file);
    if (file < 0) std::abort();
    *fd = file;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = -1;
    const std::string& path = InputPath(&fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    CDIB dib;
    if (dib.ReadBmp(path.c_str())) TouchDib(dib);
    return 0;
}
