#include "client/ClientChannel.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "bridge/ChannelLayout.h"
#include "bridge/LittleEndian.h"
#include "platform/WinTypes.h"

namespace velomark {

namespace {

std::string MappingErrorText(DWORD code) {
    switch (code) {
        case ERROR_ACCESS_DENIED: return "access denied (another user's section?)";
        case ERROR_NOT_ENOUGH_MEMORY: return "not enough memory or descriptors";
        case ERROR_FILE_NOT_FOUND: return "not found";
        default: return "system error " + std::to_string(code);
    }
}

// Creates or opens one section and maps all of it, zeroing `zeroBytes` of a new one.
bool MapSection(const char* baseName, size_t zeroBytes, HANDLE& handle, unsigned char*& view,
                size_t& size, std::string& error) {
    const std::string name = ChannelSectionName(baseName);
    handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                static_cast<DWORD>(kChannelBlockSize), name.c_str());
    if (!handle) {
        error =
            "cannot create or open the section " + name + ": " + MappingErrorText(GetLastError());
        return false;
    }
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    view = static_cast<unsigned char*>(MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0));
    if (!view) {
        error = "cannot map the section " + name + ": " + MappingErrorText(GetLastError());
        return false;
    }
    size = MappedViewSize(view);
    if (created) std::memset(view, 0, std::min(size, zeroBytes));
    return true;
}

void UnmapSection(HANDLE& handle, unsigned char*& view, size_t& size) {
    if (view) UnmapViewOfFile(view);
    if (handle) CloseHandle(handle);
    handle = nullptr;
    view = nullptr;
    size = 0;
}

uint16_t ReadU16(const unsigned char* p) { return static_cast<uint16_t>(GetLittleEndian(p, 2)); }

}  // namespace

ClientChannel::~ClientChannel() { Close(); }

bool ClientChannel::Open(std::string& error) {
    Close();
    if (MapSection(kDataSectionName, kChannelBlockSize, m_hData, m_pData, m_nDataSize, error) &&
        MapSection(kStatusSectionName, kStatusZeroedBytes, m_hStatus, m_pStatus, m_nStatusSize,
                   error)) {
        return true;
    }
    Close();
    return false;
}

void ClientChannel::Close() {
    UnmapSection(m_hData, m_pData, m_nDataSize);
    UnmapSection(m_hStatus, m_pStatus, m_nStatusSize);
}

bool ClientChannel::GrowData(size_t bytes, std::string& error) {
    if (!m_hData) {
        error = "the channel is not open";
        return false;
    }
    if (!GrowMappingObject(m_hData, bytes)) {
        error = "cannot grow the data section to " + std::to_string(bytes) + " bytes: " +
                MappingErrorText(GetLastError());
        return false;
    }
    RefreshData();
    if (m_nDataSize < bytes) {
        error = "cannot map the grown data section";
        return false;
    }
    return true;
}

void ClientChannel::RefreshData() {
    if (!m_hData || MappingObjectSize(m_hData) == m_nDataSize) return;
    if (m_pData) UnmapViewOfFile(m_pData);
    m_pData = static_cast<unsigned char*>(MapViewOfFile(m_hData, FILE_MAP_WRITE, 0, 0, 0));
    m_nDataSize = m_pData ? MappedViewSize(m_pData) : 0;
}

int32_t ClientChannel::LoadStatus() const {
    if (!HasStatusWord()) return CHANNEL_IDLE;
    return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(m_pStatus))
        .load(std::memory_order_acquire);
}

void ClientChannel::StoreStatus(int32_t value) {
    if (!HasStatusWord()) return;
    std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(m_pStatus))
        .store(value, std::memory_order_release);
}

size_t PackedDib24Size(const unsigned char* dib, size_t available, std::string& error) {
    constexpr size_t kHeaderSize = 40;
    if (!dib || available < kHeaderSize) {
        error = "the block is too small for an image header";
        return 0;
    }
    const uint32_t headerSize = GetU32(dib);
    const auto width = static_cast<int32_t>(GetU32(dib + 4));
    const auto height = static_cast<int32_t>(GetU32(dib + 8));
    const uint16_t planes = ReadU16(dib + 12);
    const uint16_t bitCount = ReadU16(dib + 14);
    const uint32_t compression = GetU32(dib + 16);
    const uint32_t colorsUsed = GetU32(dib + 32);
    if (headerSize != kHeaderSize || planes != 1 || bitCount != 24 || compression != BI_RGB) {
        error = "the block does not start with a 24-bit image header (size " +
                std::to_string(headerSize) + ", " + std::to_string(bitCount) + " bits)";
        return 0;
    }
    if (width <= 0 || height <= 0 || colorsUsed > 256) {
        error = "the image header is invalid (" + std::to_string(width) + " x " +
                std::to_string(height) + ", " + std::to_string(colorsUsed) + " colours)";
        return 0;
    }
    // 64-bit arithmetic: width and height below 2^31 cannot overflow it.
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3};
    const uint64_t total = kHeaderSize + uint64_t{4} * colorsUsed + stride * height;
    if (total > available) {
        error = "the image header claims " + std::to_string(total) + " bytes, the block holds " +
                std::to_string(available);
        return 0;
    }
    return static_cast<size_t>(total);
}

size_t ClientChannel::PackedImageSize(std::string& error) const {
    return PackedDib24Size(m_pData, m_nDataSize, error);
}

}  // namespace velomark
