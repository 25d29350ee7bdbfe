#include "sources/sane/SaneWorkerServer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "sources/sane/SaneLibrary.h"
#include "sources/sane/SaneRemoteDescriptor.h"

namespace {

using sane_wire::Request;

// sane_read is asked for at most this much at a time, straight into the slot.
constexpr size_t kReadAtMost = 1024 * 1024;
// A frame being read sends what it has with every full slot, so that sane.ds converts
// while the worker reads, and at least every 200 ms, which restarts sane.ds's deadline
// and moves the page's progress.
constexpr auto kSegmentEvery = std::chrono::milliseconds(200);

}  // namespace

SaneWorkerServer::~SaneWorkerServer() {
    if (m_region) munmap(m_region, m_regionSize);
}

bool SaneWorkerServer::TakeRegion(int fd) {
    struct stat facts {};
    const bool usable = fd >= 0 && !m_region && fstat(fd, &facts) == 0 &&
                        size_t(facts.st_size) / sane_wire::kSlotBytes >= 1;
    void* at = usable ? mmap(nullptr, size_t(facts.st_size), PROT_READ | PROT_WRITE, MAP_SHARED,
                             fd, 0)
                      : MAP_FAILED;
    if (fd >= 0) close(fd);
    if (at == MAP_FAILED) return false;
    m_region = static_cast<unsigned char*>(at);
    m_regionSize = size_t(facts.st_size);
    m_slots = m_regionSize / sane_wire::kSlotBytes;
    return true;
}

int SaneWorkerServer::Run() {
    Packet packet;
    for (;;) {
        int fd = -1;
        const int got = sane_wire::Receive(m_socket, &packet, &fd);
        sane_wire::Reader in(packet.data(), packet.size());
        uint32_t request = 0;
        const bool read = got == 0 && in.U32(&request);
        if (read && request == uint32_t(Request::Open)) {
            if (!TakeRegion(fd)) return 2;
        } else if (fd >= 0) {
            close(fd);
        }
        if (got == -1) break;  // sane.ds went away
        bool closed = false;
        if (!read || !Answer(static_cast<Request>(request), in, &closed)) return 2;
        if (closed) return 0;
    }
    if (m_handle) m_api.close(m_handle);
    return 0;
}

bool SaneWorkerServer::Reply(SANE_Status status, const sane_wire::Writer& fields,
                             const std::string& text) {
    sane_wire::Writer head;
    head.U32(sane_wire::kReply);
    head.I32(status);
    head.Text(text);
    Packet packet = head.Packet();
    packet.insert(packet.end(), fields.Packet().begin(), fields.Packet().end());
    return sane_wire::Send(m_socket, packet);
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
    if (request == Request::Release) {
        // The last slots of a frame come back after its end.
        if (!in.AtEnd() || m_slotsOut == 0) return false;
        --m_slotsOut;
        return true;
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
            if (!in.AtEnd() || !m_region) return false;
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
        Reply(SANE_STATUS_IO_ERROR, out, error);
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

bool SaneWorkerServer::TakeCancels(bool untilSlotFree) {
    // Asked between every two reads, so small: anything longer than a Cancel is cut
    // short and refused.
    unsigned char packet[16];
    for (;;) {
        const bool wait = untilSlotFree && m_slotsOut == m_slots;
        const ssize_t got = recv(m_socket, packet, sizeof packet, wait ? 0 : MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return !wait && (errno == EAGAIN || errno == EWOULDBLOCK);
        sane_wire::Reader in(packet, size_t(got));
        uint32_t request = 0;
        if (!in.U32(&request) || !in.AtEnd()) return false;
        if (request == uint32_t(Request::Cancel)) {
            m_api.cancel(m_handle);
        } else if (request == uint32_t(Request::Release) && m_slotsOut > 0) {
            --m_slotsOut;
        } else {
            return false;
        }
    }
}

bool SaneWorkerServer::Ship(size_t offset, size_t size) {
    sane_wire::Writer out;
    out.U32(sane_wire::kSegment);
    out.U64(offset);
    out.U64(size);
    if (!sane_wire::Send(m_socket, out.Packet())) return false;
    if (size) {
        m_nextSlot = (m_nextSlot + 1) % m_slots;
        ++m_slotsOut;
    }
    return true;
}

void SaneWorkerServer::ReadFrame() {
    uint64_t total = 0;
    size_t filled = 0;  // of the slot m_nextSlot
    SANE_Status status = SANE_STATUS_GOOD;
    std::string text;
    auto shipped = std::chrono::steady_clock::now();
    while (status == SANE_STATUS_GOOD) {
        // An empty slot may still be out from the last segment: it is waited for.
        if (!TakeCancels(filled == 0)) _exit(2);  // sane.ds broke the protocol
        const size_t slot = m_nextSlot * sane_wire::kSlotBytes;
        const size_t asked = std::min(sane_wire::kSlotBytes - filled, kReadAtMost);
        SANE_Int length = 0;
        status = m_api.read(m_handle, m_region + slot + filled, SANE_Int(asked), &length);
        if (status != SANE_STATUS_GOOD) break;
        if (length < 0 || size_t(length) > asked) {
            status = SANE_STATUS_IO_ERROR;
            text = "the scanner driver reported " + std::to_string(length) +
                   " bytes read into room for " + std::to_string(asked);
            break;
        }
        filled += size_t(length);
        total += uint64_t(length);
        const auto now = std::chrono::steady_clock::now();
        if (filled == sane_wire::kSlotBytes || now - shipped >= kSegmentEvery) {
            if (!Ship(slot, filled)) _exit(2);
            filled = 0;
            shipped = now;
        }
    }
    if (filled && !Ship(m_nextSlot * sane_wire::kSlotBytes, filled)) _exit(2);
    sane_wire::Writer out;
    out.U64(total);
    Reply(status, out, text);
}
