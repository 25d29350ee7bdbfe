// velomark-sane-worker: SANE's backends in a process of their own, so that one that
// crashes or hangs costs sane.ds a job, never Velomark. Started by sane.ds with its
// end of a socket pair as descriptor 3 and the SANE library to load as the argument.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "sources/sane/SaneLibrary.h"
#include "sources/sane/SaneWorkerServer.h"
#include "sources/sane/SaneWorkerWire.h"

namespace {

constexpr int kSocket = 3;

// Without SANE every request gets the reason, then the worker ends.
int RefuseFirstRequest(const std::string& whyNot) {
    std::vector<unsigned char> packet;
    int fd = -1;
    if (sane_wire::Receive(kSocket, &packet, &fd) != 0) return 1;
    if (fd >= 0) close(fd);
    sane_wire::Writer out;
    out.U32(sane_wire::kReply);
    out.I32(SANE_STATUS_IO_ERROR);
    out.Text(whyNot);
    sane_wire::Send(kSocket, out.Packet());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || fcntl(kSocket, F_GETFD) < 0) {
        std::fprintf(stderr, "velomark-sane-worker is started by Velomark's SANE source\n");
        return 2;
    }
    // The socket breaking is an answer, not a reason to die.
    signal(SIGPIPE, SIG_IGN);
    // A worker whose Velomark is gone ends, even with its driver stuck in a call
    // that never returns (and so never sees the socket close).
    const pid_t velomark = getppid();
    std::thread([velomark] {
        while (getppid() == velomark) std::this_thread::sleep_for(std::chrono::seconds(1));
        _exit(1);
    }).detach();
    std::string whyNot;
    const SaneLibrary* library = SaneLibrary::Shared(argv[1], &whyNot);
    if (!library) return RefuseFirstRequest(whyNot);
    return SaneWorkerServer(*library, kSocket).Run();
}
