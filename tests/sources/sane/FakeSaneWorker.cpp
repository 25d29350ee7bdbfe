// A stand-in for velomark-sane-worker that breaks the protocol in the way its
// argument (where the real worker gets the SANE library) names:
//   many-devices    a list longer than any the source takes
//   short-reply     a reply cut off inside its status
//   slot-outside    a frame's segment said to lie partly past the end of the region
//                   sane.ds gave it
//   dies-at-start   one option, "resolution" (3 unless set), and sane_start exits
//                   with the resolution as its status
//   own-fds-only    refuses to open a device while it holds a descriptor beyond its
//                   standard three and its socket
//   open-if-asked   opens a device only while FAKE_SANE_WORKER_OPENS is "yes" in the
//                   environment it was started with
// Every other request gets a plain success.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneRemoteDescriptor.h"
#include "sources/sane/SaneWorkerWire.h"

namespace {

constexpr int kSocket = 3;

void Refuse(const std::string& why) {
    sane_wire::Writer refusal;
    refusal.U32(sane_wire::kReply);
    refusal.I32(SANE_STATUS_ACCESS_DENIED);
    refusal.Text(why);
    sane_wire::Send(kSocket, refusal.Packet());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string fault = argv[1];
    std::vector<unsigned char> packet;
    int passed = -1;
    int32_t resolution = 3;
    uint64_t regionSize = 0;
    const SANE_Option_Descriptor option{"resolution", "Resolution", "", SANE_TYPE_INT, 0,
                                        sizeof(SANE_Word), SANE_CAP_SOFT_SELECT,
                                        SANE_CONSTRAINT_NONE, {nullptr}};
    while (sane_wire::Receive(kSocket, &packet, &passed) == 0) {
        struct stat facts {};
        if (passed >= 0 && fstat(passed, &facts) == 0) regionSize = uint64_t(facts.st_size);
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
        if (fault == "own-fds-only" && request == uint32_t(sane_wire::Request::Open)) {
            for (int fd = kSocket + 1; fd < 1024; ++fd)
                if (fcntl(fd, F_GETFD) >= 0) {
                    Refuse("descriptor " + std::to_string(fd) + " came from Velomark");
                    return 0;
                }
        }
        if (fault == "open-if-asked" && request == uint32_t(sane_wire::Request::Open)) {
            const char* opens = getenv("FAKE_SANE_WORKER_OPENS");
            if (!opens || std::string(opens) != "yes") {
                Refuse("");
                continue;
            }
        }
        if (fault == "dies-at-start" && request == uint32_t(sane_wire::Request::Start)) {
            _exit(resolution);
        } else if (fault == "dies-at-start" &&
                   request == uint32_t(sane_wire::Request::Descriptor)) {
            out.U32(2);
            out.U32(1);
            SaneRemoteDescriptor::Write(out, option);
            out.U32(0);
        } else if (fault == "dies-at-start" && request == uint32_t(sane_wire::Request::Control)) {
            int32_t number = 0, action = 0;
            std::vector<unsigned char> value;
            if (!in.I32(&number) || !in.I32(&action) || !in.Bytes(&value, 4)) return 2;
            if (action == SANE_ACTION_SET_VALUE)
                resolution = int32_t(value[0] | value[1] << 8 | value[2] << 16 | value[3] << 24);
            out.I32(0);
            out.Bytes(&resolution, sizeof resolution);
        } else if (request == uint32_t(sane_wire::Request::List) && fault == "many-devices") {
            out.U32(1u << 30);
        } else if (request == uint32_t(sane_wire::Request::List)) {
            out.U32(0);
        } else if (request == uint32_t(sane_wire::Request::ReadFrame)) {
            sane_wire::Writer segment;
            segment.U32(sane_wire::kSegment);
            segment.U64(regionSize - 2048);
            segment.U64(4096);
            sane_wire::Send(kSocket, segment.Packet());
            continue;
        }
        if (request != uint32_t(sane_wire::Request::Cancel) &&
            request != uint32_t(sane_wire::Request::Release))
            sane_wire::Send(kSocket, out.Packet());
    }
    return 0;
}
