#include "bridge/SharedChannel.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/ChannelLayout.h"
#include "platform/SectionGuard.h"

namespace velomark {

namespace {

std::string CreateErrorText(const std::string& name, DWORD error) {
    std::string reason = "error " + std::to_string(error);
    if (error == ERROR_DISK_FULL || error == ERROR_NOT_ENOUGH_MEMORY)
        reason = "/dev/shm cannot hold its " + std::to_string(kChannelBlockSize) + " bytes";
    else if (error == ERROR_ACCESS_DENIED)
        reason = "access denied (another user's section of that name?)";
    return "the shared section " + name + " could not be opened: " + reason;
}

// Creates or opens one section and maps all of it. False, with the reason in
// *error, when either step failed.
bool MapSection(SharedChannel::Section& section, std::string* error) {
    const std::string name = ChannelSectionName(section.baseName);
    section.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         static_cast<DWORD>(kChannelBlockSize), name.c_str());
    if (!section.mapping) {
        *error = CreateErrorText(name, GetLastError());
        return false;
    }
    section.created = GetLastError() != ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(section.mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (!view) {
        *error = "the shared section " + name + " could not be mapped";
        return false;
    }
    section.view = static_cast<unsigned char*>(view);
    section.size = MappedViewSize(view);
    return true;
}

void UnmapSection(SharedChannel::Section& section) {
    if (section.view) UnmapViewOfFile(section.view);
    if (section.mapping) CloseHandle(section.mapping);
    section.view = nullptr;
    section.mapping = nullptr;
    section.size = 0;
    section.created = false;
    section.damaged = false;
}

// The status word lives at the page-aligned start of the view.
std::atomic_ref<int32_t> StatusWord(unsigned char* view) {
    return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(view));
}

}  // namespace

SharedChannel& SharedChannel::Instance() {
    static SharedChannel channel;
    return channel;
}

SharedChannel::~SharedChannel() { Close(); }

void SharedChannel::Open() {
    if (m_data.mapping || m_status.mapping) return;
    m_openError.clear();
    if (!MapSection(m_data, &m_openError)) return;
    m_nLargestDataSize = m_data.size;
    if (m_data.created) Zero(m_data, kChannelBlockSize);
    if (!MapSection(m_status, &m_openError)) return;
    if (m_status.created) Zero(m_status, kStatusZeroedBytes);
}

void SharedChannel::Close() {
    m_outbox.Clear();
    m_replyHeldUntil = {};
    SetDeferredRequest(0);
    m_placedNotTaken = false;
    UnmapSection(m_data);
    UnmapSection(m_status);
    m_nLargestDataSize = 0;
}

void SharedChannel::JoinRunningAcquisition() {
    m_deferredRequest = CHANNEL_ACQUIRE;
    m_deferredJoined = true;
}

void SharedChannel::PageTransferred() {
    if (m_deferredJoined) SetDeferredRequest(0);
}

void SharedChannel::NoteImagePlaced() { m_placedNotTaken = true; }

void SharedChannel::NotePlacedImageTaken() {
    if (!m_placedNotTaken) return;
    m_placedNotTaken = false;
    ++m_nTaken;
}

void SharedChannel::Notice(const std::string& text) {
    std::fprintf(stderr, "velomark: %s\n", text.c_str());
    if (m_noticeHandler) m_noticeHandler(text);
}

void SharedChannel::Remap(Section& section) {
    if (!section.mapping) return;
    if (section.view) UnmapViewOfFile(section.view);
    void* view = MapViewOfFile(section.mapping, FILE_MAP_WRITE, 0, 0, 0);
    section.view = static_cast<unsigned char*>(view);
    section.size = view ? MappedViewSize(view) : 0;
    // A section cut to nothing cannot be mapped: tried again at each use, until the
    // client gives it a size again.
    section.damaged = view == nullptr;
    if (&section == &m_data) m_nLargestDataSize = std::max(m_nLargestDataSize, section.size);
}

void SharedChannel::ReportDamage(Section& section) {
    section.damaged = true;
    const std::string name = ChannelSectionName(section.baseName);
    Notice("a client cut the shared section " + name + " to " +
           std::to_string(MappingObjectSize(section.mapping)) + " bytes under Velomark (it was " +
           std::to_string(section.size) + "); it is mapped afresh at its new size");
}

template <class Access>
bool SharedChannel::Guarded(Section& section, Access access) {
    if (section.damaged) Remap(section);
    if (!section.view) return false;
    bool done;
    bool faulted;
    {
        SectionGuard guard(section.view, section.size);
        done = access(section.view, section.size);
        faulted = guard.Faulted();
    }
    if (faulted) ReportDamage(section);
    return done && !faulted;
}

void SharedChannel::Zero(Section& section, size_t bytes) {
    Guarded(section, [&](unsigned char* view, size_t viewSize) {
        std::memset(view, 0, std::min(viewSize, bytes));
        return true;
    });
}

void SharedChannel::RefreshDataBlock() {
    if (!m_data.mapping) return;
    const size_t objectSize = MappingObjectSize(m_data.mapping);
    if (!m_data.damaged && m_data.view && objectSize == m_data.size) return;
    // Growing is the client's right; shrinking is damage the user should hear of.
    if (!m_data.damaged && m_data.view && objectSize < m_data.size) ReportDamage(m_data);
    Remap(m_data);
}

bool SharedChannel::Write(Section& section, size_t offset, const void* bytes, size_t size) {
    return Guarded(section, [&](unsigned char* view, size_t viewSize) {
        if (offset > viewSize || size > viewSize - offset) return false;
        std::memcpy(view + offset, bytes, size);
        return true;
    });
}

bool SharedChannel::WriteData(size_t offset, const void* bytes, size_t size) {
    return Write(m_data, offset, bytes, size);
}

bool SharedChannel::WriteStatusBlock(size_t offset, const void* bytes, size_t size) {
    return Write(m_status, offset, bytes, size);
}

bool SharedChannel::ReadText(char* text, size_t limit) {
    size_t length = 0;
    const bool read = Guarded(m_data, [&](unsigned char* view, size_t viewSize) {
        const size_t bound = std::min(limit, viewSize);
        while (length < bound && view[length] != 0) {
            text[length] = static_cast<char>(view[length]);
            ++length;
        }
        return true;
    });
    text[read ? length : 0] = 0;
    return read;
}

bool SharedChannel::WriteText(const char* text) {
    return Guarded(m_data, [&](unsigned char* view, size_t viewSize) {
        if (viewSize == 0) return false;
        size_t length = 0;
        if (text)
            while (length < viewSize - 1 && text[length] != 0) ++length;
        std::memcpy(view, text ? text : "", length);
        view[length] = 0;
        return true;
    });
}

int32_t SharedChannel::LoadStatus() {
    int32_t value = CHANNEL_IDLE;
    if (!HasStatusWord() && !m_status.damaged) return value;
    Guarded(m_status, [&](unsigned char* view, size_t viewSize) {
        if (viewSize < sizeof(int32_t)) return false;
        value = StatusWord(view).load(std::memory_order_acquire);
        return true;
    });
    return value;
}

void SharedChannel::StoreStatus(int32_t value) {
    Guarded(m_status, [&](unsigned char* view, size_t viewSize) {
        if (viewSize < sizeof(int32_t)) return false;
        StatusWord(view).store(value, std::memory_order_release);
        return true;
    });
}

bool SharedChannel::ExchangeStatus(int32_t expected, int32_t desired) {
    return Guarded(m_status, [&](unsigned char* view, size_t viewSize) {
        if (viewSize < sizeof(int32_t)) return false;
        return StatusWord(view).compare_exchange_strong(expected, desired,
                                                        std::memory_order_acq_rel);
    });
}

void OpenSharedChannel() { SharedChannel::Instance().Open(); }
void CloseSharedChannel() { SharedChannel::Instance().Close(); }

}  // namespace velomark
