#include "bridge/SharedChannel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "bridge/ChannelLayout.h"

namespace velomark {

namespace {

// Creates or opens one section and maps all of it. Returns the view (null on
// failure) and tells whether this call created the section.
unsigned char* MapSection(const char* baseName, HANDLE& mapping, size_t& size, bool& created) {
    const std::string name = ChannelSectionName(baseName);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                 static_cast<DWORD>(kChannelBlockSize), name.c_str());
    if (!mapping) return nullptr;
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return nullptr;
    size = MappedViewSize(view);
    return static_cast<unsigned char*>(view);
}

void UnmapSection(unsigned char*& view, HANDLE& mapping, size_t& size) {
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    view = nullptr;
    mapping = nullptr;
    size = 0;
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
    if (m_hDataMapping || m_hStatusMapping) return;
    m_pDataView = MapSection(kDataSectionName, m_hDataMapping, m_nDataSize, m_bDataCreated);
    if (!m_pDataView) return;
    if (m_bDataCreated) std::memset(m_pDataView, 0, std::min(m_nDataSize, kChannelBlockSize));

    m_pStatusView =
        MapSection(kStatusSectionName, m_hStatusMapping, m_nStatusSize, m_bStatusCreated);
    if (!m_pStatusView) return;
    if (m_bStatusCreated) std::memset(m_pStatusView, 0, std::min(m_nStatusSize, kStatusZeroedBytes));
}

void SharedChannel::Close() {
    m_outbox.Clear();
    m_replyHeldUntil = {};
    UnmapSection(m_pDataView, m_hDataMapping, m_nDataSize);
    UnmapSection(m_pStatusView, m_hStatusMapping, m_nStatusSize);
    m_bDataCreated = false;
    m_bStatusCreated = false;
}

int32_t SharedChannel::LoadStatus() const {
    if (!HasStatusWord()) return CHANNEL_IDLE;
    return StatusWord(m_pStatusView).load(std::memory_order_acquire);
}

void SharedChannel::StoreStatus(int32_t value) {
    if (!HasStatusWord()) return;
    StatusWord(m_pStatusView).store(value, std::memory_order_release);
}

bool SharedChannel::ExchangeStatus(int32_t expected, int32_t desired) {
    if (!HasStatusWord()) return false;
    return StatusWord(m_pStatusView)
        .compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
}

void OpenSharedChannel() { SharedChannel::Instance().Open(); }
void CloseSharedChannel() { SharedChannel::Instance().Close(); }

}  // namespace velomark
