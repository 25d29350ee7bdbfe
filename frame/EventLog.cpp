#include "frame/EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace velomark {

void ReportEvent(const std::string& line) {
    const char* path = std::getenv("VELOMARK_EVENT_LOG");
    if (!path || !*path) return;
    // Opened per line with O_APPEND: a reader sees whole lines, and nothing stays open.
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string text = line + "\n";
    ssize_t written = write(fd, text.data(), text.size());
    static_cast<void>(written);
    close(fd);
}

}  // namespace velomark
