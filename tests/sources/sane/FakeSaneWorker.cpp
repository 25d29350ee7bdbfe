// A stand-in for velomark-sane-worker that breaks the protocol in the way its
// argument (where the real worker gets the SANE library) names:
//   many-devices    a list longer than any the source takes
//   short-reply     a reply cut off inside its status
//   unsealed-frame  a frame in a memory file the worker could still shrink
// Every other request gets a plain success.
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneWorkerWire.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string fault = argv[1];
    constexpr int kSocket = 3;
    std::vector<unsigned char> packet;
    int passed = -1;
    while (sane_wire::Receive(kSocket, &packet, &passed) == 0) {
        if (passed >= 0) close(passed);
        sane_wire::Reader in(packet.data(), packet.size());
        uint32_t request = 0;
        if (!in.U32(&request)) return 2;
        sane_wire::Writer out;
        out.U32(sane_wire::kReply);
        if (fault == "short-reply") {
            out.U32(0);
            std::vector<unsigned char> cut = out.Packet();
            cut.resize(6);
            sane_wire::Send(kSocket, cut);
            continue;
        }
        out.I32(SANE_STATUS_GOOD);
        out.Text("");
        int fd = -1;
        if (request == uint32_t(sane_wire::Request::List) && fault == "many-devices") {
            out.U32(1u << 30);
        } else if (request == uint32_t(sane_wire::Request::List)) {
            out.U32(0);
        } else if (request == uint32_t(sane_wire::Request::ReadFrame)) {
            sane_wire::Writer segment;
            segment.U32(sane_wire::kSegment);
            segment.U64(4096);
            fd = memfd_create("frame", MFD_CLOEXEC);
            if (fd < 0 || ftruncate(fd, 4096) != 0) return 1;
            sane_wire::Send(kSocket, segment.Packet(), fd);
            close(fd);
            continue;
        }
        if (request != uint32_t(sane_wire::Request::Cancel)) sane_wire::Send(kSocket, out.Packet(), fd);
        if (fd >= 0) close(fd);
    }
    return 0;
}
