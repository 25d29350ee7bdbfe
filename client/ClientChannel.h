// The client's side of the two sections: created or opened with the same names,
// zeroing and lifetime as Velomark's, and the checked reads of what Velomark
// placed there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileMapping.h"

namespace velomark {

// The size of the packed 24-bit image (bottom-up rows) at `dib`, from its header; 0
// with the reason in `error` when the header is not one or claims more than the
// `available` bytes. The channel's data block and the stream's memory files alike.
size_t PackedDib24Size(const unsigned char* dib, size_t available, std::string& error);

class ClientChannel {
public:
    ClientChannel() = default;
    ~ClientChannel();
    ClientChannel(const ClientChannel&) = delete;
    ClientChannel& operator=(const ClientChannel&) = delete;

    // Both sections or neither; false with the reason in `error`.
    bool Open(std::string& error);
    void Close();

    unsigned char* Data() const { return m_pData; }
    size_t DataSize() const { return m_nDataSize; }
    unsigned char* Status() const { return m_pStatus; }
    size_t StatusSize() const { return m_nStatusSize; }

    bool HasStatusWord() const { return m_pStatus && m_nStatusSize >= sizeof(int32_t); }
    int32_t LoadStatus() const;
    void StoreStatus(int32_t value);

    // Makes the data section at least `bytes` large (never smaller) and maps it
    // whole; false with the reason in `error`.
    bool GrowData(size_t bytes, std::string& error);
    // Maps the data section again when its size changed (grown by another client).
    void RefreshData();

    // The size of the packed 24-bit image at the start of the data block, from its
    // header; 0 with the reason in `error` when the header is not one or claims
    // more bytes than the block holds.
    size_t PackedImageSize(std::string& error) const;

private:
    unsigned char* m_pData = nullptr;
    HANDLE m_hData = nullptr;
    size_t m_nDataSize = 0;
    unsigned char* m_pStatus = nullptr;
    HANDLE m_hStatus = nullptr;
    size_t m_nStatusSize = 0;
};

}  // namespace velomark
