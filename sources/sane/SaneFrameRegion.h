// The memory a device's worker hands its frames over in: a memory file sane.ds makes
// once per worker, sized and sealed against shrinking and growing before the worker
// gets it, mapped here for reading only. The worker writes each segment of a frame
// into a slot of it and names offset and length; sane.ds converts the bytes where
// they lie and gives the slot back. The worker is untrusted, so every offset and
// length is checked against the region here, and nothing read from it steers a
// decision: a worker that writes into a slot being read garbles its own page's
// pixels, nothing more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class SaneFrameRegion {
public:
    // A region of `bytes`; Valid() false (and *error why) when it could not be made.
    SaneFrameRegion(size_t bytes, std::string* error);
    ~SaneFrameRegion();
    SaneFrameRegion(const SaneFrameRegion&) = delete;
    SaneFrameRegion& operator=(const SaneFrameRegion&) = delete;

    bool Valid() const { return m_map != nullptr; }
    // The memory file, to pass to the worker; still the region's.
    int Fd() const { return m_fd; }
    // True when [offset, offset + length) lies within the region.
    bool Holds(uint64_t offset, uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }
    // The bytes at `offset`, which Holds. The worker may write them meanwhile, so they
    // are pixels only: nothing read there steers a decision.
    const unsigned char* At(uint64_t offset) const { return m_map + offset; }

private:
    int m_fd = -1;
    size_t m_size = 0;
    const unsigned char* m_map = nullptr;
};
