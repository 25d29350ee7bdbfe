// CDIB BMP files: a 14-byte file header followed by the image's own block.
//
// What the reader takes:
// - Info headers of 40, 52, 56, 108 and 124 bytes, and the OS/2 ones of 12 (with
//   3-byte colour-table entries), 16 and 64 bytes. The colour table is read after the
//   whole header, and the image is held with a 40-byte header (biSize 40). Other
//   header sizes are refused.
// - 1, 4, 8, 16, 24 and 32 bits per pixel, plain rows. Run-length, JPEG and PNG data
//   are refused. Colour masks (BI_BITFIELDS) are taken when the rows can be held in
//   the default layout: 5-5-5 at 16 bits, byte-aligned channels at 32 bits (those are
//   rearranged to blue, green, red, 0); the image is then held as BI_RGB.
// - Top-down files (negative height) are flipped and held bottom-up.
// - A palette image gets its 2, 16 or 256 entries from the file as they stand, even
//   past biClrUsed, as long as the file holds them; the file must hold biClrUsed
//   entries at least, and entries past its end are black.
// Every size is checked against the file's real size before anything is allocated,
// and the image is built aside: a refused file leaves the image as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "dib/Dib.h"
#include "dib/DibHeader.h"
#include "dib/DibLayout.h"

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kLargestInfoHeader = 124;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }
    bool IsOpen() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    bool Close() {
        if (m_fd < 0) return true;
        const bool ok = ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

// Reads exactly `n` bytes at `offset`; false on any shortfall.
bool ReadAt(int fd, void* buffer, size_t n, uint64_t offset) {
    auto* p = static_cast<BYTE*>(buffer);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got, n -= static_cast<size_t>(got), offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* buffer, size_t n) {
    const auto* p = static_cast<const BYTE*>(buffer);
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put, n -= static_cast<size_t>(put);
    }
    return true;
}

// Byte position (0 to 3) of an 8-bit channel mask in a 32-bit pixel, or -1.
int ByteOfMask(uint32_t mask) {
    for (int k = 0; k < 4; ++k) {
        if (mask == (0xFFu << (8 * k))) return k;
    }
    return -1;
}

// Colour masks are held only by being the default layout: 16-bit 5-5-5, or 32-bit
// with each channel in a whole byte (rearranged to blue, green, red, 0 afterwards).
bool MasksAreHoldable(int bitCount, const uint32_t masks[3]) {
    if (bitCount == 16) return masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F;
    if (bitCount != 32) return false;
    const int r = ByteOfMask(masks[0]), g = ByteOfMask(masks[1]), b = ByteOfMask(masks[2]);
    return r >= 0 && g >= 0 && b >= 0 && r != g && g != b && r != b;
}

void RearrangeTo32BitBgr(CDIB& dib, const uint32_t masks[3]) {
    const int r = ByteOfMask(masks[0]), g = ByteOfMask(masks[1]), b = ByteOfMask(masks[2]);
    for (int y = 0; y < dib.m_nHeight; ++y) {
        BYTE* p = dib.GetRowPtr(y);
        for (int x = 0; x < dib.m_nWidth; ++x, p += 4) {
            const BYTE in[4] = {p[0], p[1], p[2], p[3]};
            p[0] = in[b], p[1] = in[g], p[2] = in[r], p[3] = 0;
        }
    }
}

void FlipRows(CDIB& dib) {
    std::vector<BYTE> spare(static_cast<size_t>(dib.m_nStride));
    for (int top = 0, bottom = dib.m_nHeight - 1; top < bottom; ++top, --bottom) {
        BYTE* a = dib.GetRowPtr(top);
        BYTE* b = dib.GetRowPtr(bottom);
        std::memcpy(spare.data(), a, spare.size());
        std::memcpy(a, b, spare.size());
        std::memcpy(b, spare.data(), spare.size());
    }
}

}  // namespace

BOOL CDIB::LoadBmp(const char* path) {
    FileDescriptor probe(::open(path, O_RDONLY | O_CLOEXEC));
    if (!probe.IsOpen()) return FALSE;
    probe.Close();
    return ReadBmp(path);
}

BOOL CDIB::ReadBmp(const char* path) {
    FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!file.IsOpen() || ::fstat(file.Get(), &st) != 0) return FALSE;
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);

    BYTE fileHeader[kFileHeaderBytes];
    if (!ReadAt(file.Get(), fileHeader, sizeof fileHeader, 0)) return FALSE;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return FALSE;
    const uint64_t offBits = ReadLe32(fileHeader + 10);

    BYTE infoBytes[kLargestInfoHeader];
    const size_t infoAvailable =
        static_cast<size_t>(std::min<uint64_t>(sizeof infoBytes, fileSize - kFileHeaderBytes));
    DibHeaderInfo info;
    if (!ReadAt(file.Get(), infoBytes, infoAvailable, kFileHeaderBytes) ||
        !ReadDibHeader(infoBytes, infoAvailable, DibHeaderSource::kBmpFile, &info)) {
        return FALSE;
    }
    BITMAPINFOHEADER& h = info.header;
    const int bits = h.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return FALSE;
    }
    if (h.biWidth <= 0 || h.biHeight <= 0) return FALSE;
    const uint64_t tableOffset = kFileHeaderBytes + info.storedSize;

    // Rows are taken plain only: run-length, JPEG and PNG data are refused.
    uint32_t masks[3] = {};
    const bool hasBitfields = h.biCompression == BI_BITFIELDS;
    if (hasBitfields) {
        if (info.hasMasks) {
            std::copy(info.masks, info.masks + 3, masks);
        } else {
            BYTE maskBytes[12];
            if (!ReadAt(file.Get(), maskBytes, sizeof maskBytes, tableOffset)) return FALSE;
            for (int i = 0; i < 3; ++i) masks[i] = ReadLe32(maskBytes + 4 * i);
        }
        if (!MasksAreHoldable(bits, masks)) return FALSE;
        h.biCompression = BI_RGB;  // the rows now follow the default layout
    } else if (h.biCompression != BI_RGB) {
        return FALSE;
    }

    DibLayout layout;
    if (!ComputeDibLayout(h.biWidth, h.biHeight, bits, &layout)) return FALSE;
    // Every declared byte must be in the file before anything is allocated.
    const uint64_t pixelBytes = static_cast<uint64_t>(layout.pixelBytes);
    if (offBits < tableOffset || offBits > fileSize || fileSize - offBits < pixelBytes) {
        return FALSE;
    }
    const uint64_t entriesInFile =
        fileSize > tableOffset ? (fileSize - tableOffset) / info.entryBytes : 0;
    const uint64_t entriesNeeded =
        (h.biClrUsed > 0 && h.biClrUsed < uint32_t(layout.colors)) ? h.biClrUsed : layout.colors;
    if (entriesInFile < entriesNeeded) return FALSE;
    const size_t entriesToRead =
        static_cast<size_t>(std::min<uint64_t>(entriesInFile, layout.colors));

    // The new image is built aside, so that a failed read leaves this one as it was.
    CDIB loaded;
    if (!loaded.CreateFromHeader(&h)) return FALSE;
    std::memset(loaded.m_pColors, 0, sizeof(RGBQUAD) * layout.colors);
    if (info.entryBytes == 4) {
        if (!ReadAt(file.Get(), loaded.m_pColors, 4 * entriesToRead, tableOffset)) return FALSE;
    } else {
        std::vector<BYTE> triples(3 * entriesToRead);
        if (!ReadAt(file.Get(), triples.data(), triples.size(), tableOffset)) return FALSE;
        for (size_t i = 0; i < entriesToRead; ++i) {
            loaded.m_pColors[i] = {triples[3 * i], triples[3 * i + 1], triples[3 * i + 2], 0};
        }
    }
    if (!ReadAt(file.Get(), loaded.m_pBits, pixelBytes, offBits)) return FALSE;
    if (info.topDown) FlipRows(loaded);
    if (bits == 32 && hasBitfields) RearrangeTo32BitBgr(loaded, masks);

    SwapImage(loaded);
    return TRUE;
}

BOOL CDIB::WriteBmp(const char* path) const {
    FileDescriptor file(::open(path, O_WRONLY | O_CLOEXEC));
    if (!file.IsOpen()) return FALSE;
    if (!m_pBlock) return FALSE;  // an empty image has no bitmap to write
    const uint32_t dibSize = static_cast<uint32_t>(GetDIBSize());
    BYTE fileHeader[kFileHeaderBytes] = {};
    fileHeader[0] = 'B';
    fileHeader[1] = 'M';
    WriteLe32(fileHeader + 2, dibSize + kFileHeaderBytes);
    WriteLe32(fileHeader + 10, static_cast<uint32_t>(kFileHeaderBytes + 40 + 4 * GetColorCount()));
    const bool written = WriteAll(file.Get(), fileHeader, sizeof fileHeader) &&
                         WriteAll(file.Get(), m_pBlock, dibSize);
    return file.Close() && written ? TRUE : FALSE;
}

BOOL CDIB::SaveBmp(const char* path, BOOL flag) {
    // A non-zero flag writes nothing and leaves any existing file untouched.
    if (flag) return FALSE;
    FileDescriptor file(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.IsOpen() || !file.Close()) return FALSE;
    return WriteBmp(path);
}
