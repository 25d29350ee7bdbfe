#include "sources/sane/SaneWorkerProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

constexpr std::chrono::seconds kShortDeadline{30};
constexpr std::chrono::seconds kLongDeadline{120};
constexpr int kWorkerSocket = 3;  // where the worker finds its end
// A worker that broke its connection gets this long to finish dying, so that the
// sentence can name the signal that ended it.
constexpr auto kDyingGrace = std::chrono::seconds(1);
constexpr auto kPollSlice = std::chrono::milliseconds(100);

// VELOMARK_SANE_DEADLINE as whole seconds; 0 when absent or not a positive number.
long DeadlineFromEnvironment() {
    const char* text = std::getenv("VELOMARK_SANE_DEADLINE");
    if (!text || !*text) return 0;
    long seconds = 0;
    const char* end = text + std::strlen(text);
    const auto [rest, error] = std::from_chars(text, end, seconds);
    return error == std::errc() && rest == end && seconds > 0 && seconds <= 86400 ? seconds : 0;
}

std::string Errno(int error) { return std::strerror(error); }

}  // namespace

std::chrono::seconds SaneWorkerProcess::ShortDeadline() {
    const long seconds = DeadlineFromEnvironment();
    return seconds ? std::chrono::seconds(seconds) : kShortDeadline;
}

std::chrono::seconds SaneWorkerProcess::LongDeadline() {
    const long seconds = DeadlineFromEnvironment();
    return seconds ? std::chrono::seconds(seconds) : kLongDeadline;
}

std::string SaneWorkerProcess::ProgramPath() {
    const char* path = std::getenv("VELOMARK_SANE_WORKER");
    if (path && *path) return path;
    // Installed beside the sources: the folder of the module this code is in.
    Dl_info info{};
    std::string folder = ".";
    if (dladdr(reinterpret_cast<void*>(&SaneWorkerProcess::ProgramPath), &info) &&
        info.dli_fname) {
        const std::string module = info.dli_fname;
        const size_t slash = module.rfind('/');
        if (slash != std::string::npos) folder = module.substr(0, slash);
    }
    return folder + "/velomark-sane-worker";
}

SaneWorkerProcess::SaneWorkerProcess(const std::string& libraryFile) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        m_failure = "the scanner driver could not be started: " + Errno(errno);
        return;
    }
    m_socket = pair[0];
    int theirs = pair[1];
    // dup2 onto itself would leave close-on-exec set.
    int dupError = 0;
    if (theirs == kWorkerSocket) {
        theirs = fcntl(pair[1], F_DUPFD_CLOEXEC, kWorkerSocket + 1);
        dupError = errno;
        close(pair[1]);
    }
    std::string program = ProgramPath();
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Nothing of Velomark's (its sections, its socket, its streams) reaches the worker;
    // its output goes to Velomark's error output, never into the event lines.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawn_file_actions_adddup2(&actions, theirs, kWorkerSocket);
    posix_spawn_file_actions_addclosefrom_np(&actions, kWorkerSocket + 1);
    // Velomark blocks its stop signals in every thread; the worker takes them plainly.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string library = libraryFile;
    char* arguments[] = {program.data(), library.data(), nullptr};
    const int error = theirs < 0 ? dupError
                                 : posix_spawn(&m_pid, program.c_str(), &actions, &attributes,
                                               arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (theirs >= 0) close(theirs);
    if (error != 0) {
        m_pid = -1;
        m_failure = "the scanner driver could not be started: " + program + ": " + Errno(error);
    }
}

SaneWorkerProcess::~SaneWorkerProcess() {
    // The closed socket ends a worker that waits for requests; one that does not end
    // soon is killed.
    if (m_socket >= 0) shutdown(m_socket, SHUT_RDWR);
    if (m_pid > 0) End("");
    if (m_socket >= 0) close(m_socket);
}

void SaneWorkerProcess::Cancel() {
    m_cancelled = true;
    sane_wire::Writer request;
    request.U32(uint32_t(sane_wire::Request::Cancel));
    if (m_socket >= 0) sane_wire::Send(m_socket, request.Packet());
}

void SaneWorkerProcess::Reject(const std::string& what) {
    End("the scanner driver answered nonsense: " + what);
}

std::string SaneWorkerProcess::HowItEnded(int waitStatus) const {
    if (WIFSIGNALED(waitStatus)) {
        const int signal = WTERMSIG(waitStatus);
        const char* name = strsignal(signal);
        return "the scanner driver stopped: signal " + std::to_string(signal) +
               (name ? std::string(" (") + name + ")" : std::string());
    }
    if (WIFEXITED(waitStatus))
        return "the scanner driver stopped: it exited with status " +
               std::to_string(WEXITSTATUS(waitStatus));
    return "the scanner driver stopped";
}

void SaneWorkerProcess::End(const std::string& sentence) {
    if (m_pid <= 0) {
        if (m_failure.empty()) m_failure = sentence.empty() ? "the scanner driver stopped" : sentence;
        return;
    }
    int status = 0;
    pid_t ended = 0;
    if (sentence.empty()) {
        // Woken the moment it ends (a pidfd), else looked at every millisecond.
        const int pidfd = int(syscall(SYS_pidfd_open, m_pid, 0));
        if (pidfd >= 0) {
            pollfd ending{pidfd, POLLIN, 0};
            while (poll(&ending, 1, int(std::chrono::milliseconds(kDyingGrace).count())) < 0 &&
                   errno == EINTR) {
            }
            close(pidfd);
            ended = waitpid(m_pid, &status, WNOHANG);
        } else {
            const auto until = std::chrono::steady_clock::now() + kDyingGrace;
            while ((ended = waitpid(m_pid, &status, WNOHANG)) == 0 &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool killed = false;
    if (ended == 0 || (ended < 0 && errno == EINTR) || !sentence.empty()) {
        kill(m_pid, SIGKILL);
        killed = true;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
    if (!m_failure.empty()) return;
    if (!sentence.empty())
        m_failure = sentence;
    else if (killed)
        m_failure = "the scanner driver stopped answering";
    else
        m_failure = HowItEnded(status);
}

bool SaneWorkerProcess::Call(const sane_wire::Writer& request, std::chrono::seconds deadline,
                             Answer* answer, int passFd) {
    std::lock_guard lock(m_callMutex);
    if (!Send(request, passFd) || !Await(deadline, answer)) return false;
    if (answer->segment) {
        Reject("a segment of a frame nobody asked for");
        return false;
    }
    return true;
}

bool SaneWorkerProcess::Send(const sane_wire::Writer& request, int passFd) {
    m_cancelled = false;
    return Tell(request, passFd);
}

bool SaneWorkerProcess::Tell(const sane_wire::Writer& request, int passFd) {
    if (!Alive()) return false;
    if (sane_wire::Send(m_socket, request.Packet(), passFd)) return true;
    End("");
    return false;
}

bool SaneWorkerProcess::Await(std::chrono::seconds deadline, Answer* answer) {
    *answer = Answer{};
    if (!Alive()) return false;
    using Clock = std::chrono::steady_clock;
    Clock::time_point until = Clock::now() + deadline;
    bool cancelSeen = false;
    for (;;) {
        if (m_cancelled && !cancelSeen) {
            cancelSeen = true;
            until = std::min(until, Clock::now() + kCancelGrace);
        }
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) {
            End("the scanner driver did not answer for " +
                std::to_string((cancelSeen ? kCancelGrace : deadline).count()) + " s");
            return false;
        }
        pollfd waiting{m_socket, POLLIN, 0};
        const auto slice = std::min<Clock::duration>(left, kPollSlice);
        const int ready =
            poll(&waiting, 1,
                 int(std::chrono::duration_cast<std::chrono::milliseconds>(slice).count()) + 1);
        if (ready <= 0) continue;  // time passing, or a signal
        return Take(answer);
    }
}

bool SaneWorkerProcess::Take(Answer* answer) {
    std::vector<unsigned char> packet;
    int fd = -1;
    const int got = sane_wire::Receive(m_socket, &packet, &fd);
    if (got == -1) {
        End("");
        return false;
    }
    sane_wire::Reader in(packet.data(), packet.size());
    uint32_t kind = 0;
    int32_t status = 0;
    bool ok = got == 0 && in.U32(&kind);
    // The worker passes no descriptors: its frames come through the region.
    if (fd >= 0) close(fd);
    if (ok && kind == sane_wire::kSegment) {
        answer->segment = true;
        ok = in.U64(&answer->offset) && in.U64(&answer->size) && in.AtEnd() && fd < 0;
    } else if (ok) {
        ok = kind == sane_wire::kReply && in.I32(&status) && in.Text(&answer->text) &&
             status >= SANE_STATUS_GOOD && status <= SANE_STATUS_ACCESS_DENIED && fd < 0;
        answer->status = static_cast<SANE_Status>(status);
        if (ok) answer->fields.assign(packet.begin() + long(in.Offset()), packet.end());
    }
    if (!ok) {
        Reject(answer->segment ? "a malformed segment of a frame" : "a malformed reply");
        return false;
    }
    return true;
}
