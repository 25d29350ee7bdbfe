#include "sources/sane/SaneWorkerServer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "sources/sane/SaneLibrary.h"
#include "sources/sane/SaneRemoteDescriptor.h"

namespace {

using sane_wire::Request;

// sane_read is asked for at most this much at a time, straight into the segment's
// file, and for no less: a segment with less room grows.
constexpr size_t kReadAtMost = 1024 * 1024;
constexpr size_t kLeastRead = 64 * 1024;
// A segment of a frame of unknown length starts at this size.
constexpr size_t kUnknownFrameStart = 4 * 1024 * 1024;
constexpr size_t kMaxFrame = size_t(1) << 34;
// A frame being read sends what it has every 2 MiB, so that sane.ds converts while
// the worker reads, and at least every 200 ms, which restarts sane.ds's deadline and
// moves the page's progress.
constexpr size_t kSegmentBytes = 2 * 1024 * 1024;
constexpr auto kSegmentEvery = std::chrono::milliseconds(200);

}  // namespace

int SaneWorkerServer::Run() {
    Packet packet;
    for (;;) {
        int fd = -1;
        const int got = sane_wire::Receive(m_socket, &packet, &fd);
        if (fd >= 0) close(fd);
        if (got == -1) break;  // sane.ds went away
        sane_wire::Reader in(packet.data(), packet.size());
        uint32_t request = 0;
        bool closed = false;
        if (got != 0 || !in.U32(&request) || !Answer(static_cast<Request>(request), in, &closed))
            return 2;
        if (closed) return 0;
    }
    if (m_handle) m_api.close(m_handle);
    return 0;
}

bool SaneWorkerServer::Reply(SANE_Status status, const sane_wire::Writer& fields, int passFd,
                             const std::string& text) {
    sane_wire::Writer head;
    head.U32(sane_wire::kReply);
    head.I32(status);
    head.Text(text);
    Packet packet = head.Packet();
    packet.insert(packet.end(), fields.Packet().begin(), fields.Packet().end());
    return sane_wire::Send(m_socket, packet, passFd);
}

bool SaneWorkerServer::Answer(Request request, sane_wire::Reader& in, bool* closed) {
    sane_wire::Writer out;
    if (request == Request::List) {
        if (!in.AtEnd()) return false;
        List();
        return true;
    }
    if (request == Request::Open) {
        std::string name;
        if (!in.Text(&name) || !in.AtEnd() || m_handle) return false;
        const SANE_Status status = m_api.open(name.c_str(), &m_handle);
        if (status != SANE_STATUS_GOOD) m_handle = nullptr;
        return Reply(status == SANE_STATUS_GOOD && !m_handle ? SANE_STATUS_INVAL : status, out);
    }
    if (!m_handle) return false;
    switch (request) {
        case Request::Descriptor: {
            int32_t option = 0;
            if (!in.I32(&option) || !in.AtEnd()) return false;
            // This one and those after it, as many as fit, ending with "none" when the
            // last is reached: one question instead of one per option.
            sane_wire::Writer list;
            uint32_t count = 0;
            for (;; ++option) {
                const SANE_Option_Descriptor* d = m_api.get_option_descriptor(m_handle, option);
                sane_wire::Writer one;
                one.U32(d ? 1 : 0);
                if (d) SaneRemoteDescriptor::Write(one, *d);
                if (count > 0 && list.Packet().size() + one.Packet().size() >
                                     sane_wire::kMaxPacket - 256)
                    break;
                list.Raw(one.Packet());
                ++count;
                if (!d || option == INT32_MAX) break;
            }
            out.U32(count);
            out.Raw(list.Packet());
            return Reply(SANE_STATUS_GOOD, out);
        }
        case Request::Control: {
            int32_t option = 0, action = 0;
            std::vector<unsigned char> value;
            if (!in.I32(&option) || !in.I32(&action) || !in.Bytes(&value) || !in.AtEnd())
                return false;
            const size_t size = value.size();
            value.resize(size + sizeof(SANE_Word));  // room for a backend that writes a word
            SANE_Int info = 0;
            const SANE_Status status =
                m_api.control_option(m_handle, option, static_cast<SANE_Action>(action),
                                     size ? value.data() : nullptr, &info);
            out.I32(info);
            out.Bytes(value.data(), size);
            return Reply(status, out);
        }
        case Request::Parameters: {
            if (!in.AtEnd()) return false;
            SANE_Parameters p{};
            const SANE_Status status = m_api.get_parameters(m_handle, &p);
            for (int32_t field : {int32_t(p.format), p.last_frame, p.bytes_per_line,
                                  p.pixels_per_line, p.lines, p.depth})
                out.I32(field);
            return Reply(status, out);
        }
        case Request::Start: return in.AtEnd() && Reply(m_api.start(m_handle), out);
        case Request::ReadFrame:
            if (!in.AtEnd()) return false;
            ReadFrame();
            return true;
        case Request::Cancel:
            if (!in.AtEnd()) return false;
            m_api.cancel(m_handle);
            return true;
        case Request::Close:
            if (!in.AtEnd()) return false;
            m_api.close(m_handle);
            m_handle = nullptr;
            *closed = true;
            return Reply(SANE_STATUS_GOOD, out);
        default: return false;
    }
}

void SaneWorkerServer::List() {
    std::vector<SaneDeviceInfo> devices;
    std::string error;
    sane_wire::Writer out;
    if (!m_library.ListDevices(&devices, &error)) {
        out.U32(0);
        Reply(SANE_STATUS_IO_ERROR, out, -1, error);
        return;
    }
    // As many as one packet holds: more scanners than that on one machine are unheard of.
    sane_wire::Writer list;
    uint32_t count = 0;
    for (const SaneDeviceInfo& device : devices) {
        const size_t texts = device.name.size() + device.vendor.size() + device.model.size() +
                             device.type.size() + 16;
        if (list.Packet().size() + texts > sane_wire::kMaxPacket - 256) break;
        for (const std::string* text : {&device.name, &device.vendor, &device.model, &device.type})
            list.Text(*text);
        ++count;
    }
    out.U32(count);
    out.Raw(list.Packet());
    Reply(SANE_STATUS_GOOD, out);
}

bool SaneWorkerServer::TakeCancel() {
    // Asked between every two reads, so small: anything longer than a Cancel is cut
    // short and refused.
    unsigned char packet[16];
    for (;;) {
        const ssize_t got = recv(m_socket, packet, sizeof packet, MSG_DONTWAIT);
        if (got < 0) return true;  // nothing came
        sane_wire::Reader in(packet, size_t(got));
        uint32_t request = 0;
        if (!in.U32(&request) || request != uint32_t(Request::Cancel) || !in.AtEnd()) return false;
        m_api.cancel(m_handle);
    }
}

// The bytes of a frame read since the last segment went, in a memory file of their
// own, read into straight from sane_read.
class SaneWorkerServer::Segment {
public:
    Segment() = default;
    ~Segment() { Drop(); }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    size_t Size() const { return m_size; }
    size_t Room() const { return m_mapped - m_size; }
    unsigned char* End() { return m_map + m_size; }
    void Grew(size_t count) { m_size += count; }
    // Room for `capacity` bytes, keeping what was read.
    bool Make(size_t capacity) {
        if (m_fd < 0) m_fd = memfd_create("velomark-sane-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (m_fd < 0 || capacity > kMaxFrame) return false;
        if (m_map) munmap(m_map, m_mapped);
        m_map = nullptr;
        m_mapped = 0;
        if (ftruncate(m_fd, off_t(capacity)) != 0) return false;
        void* at = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (at == MAP_FAILED) return false;
        m_map = static_cast<unsigned char*>(at);
        m_mapped = capacity;
        return true;
    }
    // Cut to its size and sealed, so that sane.ds may read it without fear of it
    // shrinking; then sent and let go. An empty one goes without a file.
    bool Ship(int socket) {
        if (m_map) munmap(m_map, m_mapped);
        m_map = nullptr;
        m_mapped = 0;
        const bool sealed =
            m_size == 0 ||
            (ftruncate(m_fd, off_t(m_size)) == 0 &&
             fcntl(m_fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) ==
                 0);
        sane_wire::Writer out;
        out.U32(sane_wire::kSegment);
        out.U64(m_size);
        const bool sent = sealed && sane_wire::Send(socket, out.Packet(), m_size ? m_fd : -1);
        Drop();
        return sent;
    }

private:
    void Drop() {
        if (m_map) munmap(m_map, m_mapped);
        if (m_fd >= 0) close(m_fd);
        m_map = nullptr;
        m_fd = -1;
        m_mapped = m_size = 0;
    }

    int m_fd = -1;
    unsigned char* m_map = nullptr;
    size_t m_mapped = 0;
    size_t m_size = 0;
};

void SaneWorkerServer::ReadFrame() {
    SANE_Parameters p{};
    uint64_t expected = 0;  // 0: not known
    if (m_api.get_parameters(m_handle, &p) == SANE_STATUS_GOOD && p.lines > 0 &&
        p.bytes_per_line > 0)
        expected = uint64_t(p.lines) * uint64_t(p.bytes_per_line);
    uint64_t total = 0;
    Segment segment;
    SANE_Status status = SANE_STATUS_GOOD;
    std::string text;
    auto shipped = std::chrono::steady_clock::now();
    while (status == SANE_STATUS_GOOD) {
        if (!TakeCancel()) _exit(2);  // sane.ds broke the protocol
        if (segment.Room() < kLeastRead) {
            const uint64_t rest = expected > total ? expected - total : kUnknownFrameStart;
            const size_t wanted =
                segment.Size() ? 2 * (segment.Size() + segment.Room())
                               : size_t(std::min<uint64_t>(rest, kSegmentBytes)) + kLeastRead;
            if (!segment.Make(std::max(wanted, kLeastRead))) {
                status = SANE_STATUS_NO_MEM;
                text = "the page is larger than the scanner driver's worker can hold";
                break;
            }
        }
        const size_t asked = std::min(segment.Room(), kReadAtMost);
        SANE_Int length = 0;
        status = m_api.read(m_handle, segment.End(), SANE_Int(asked), &length);
        if (status != SANE_STATUS_GOOD) break;
        if (length < 0 || size_t(length) > asked) {
            status = SANE_STATUS_IO_ERROR;
            text = "the scanner driver reported " + std::to_string(length) +
                   " bytes read into room for " + std::to_string(asked);
            break;
        }
        segment.Grew(size_t(length));
        total += uint64_t(length);
        const auto now = std::chrono::steady_clock::now();
        if (segment.Size() >= kSegmentBytes || now - shipped >= kSegmentEvery) {
            if (!segment.Ship(m_socket)) _exit(2);
            shipped = now;
        }
    }
    if (segment.Size() && !segment.Ship(m_socket)) _exit(2);
    sane_wire::Writer out;
    out.U64(total);
    Reply(status, out, -1, text);
}
