// Small builders and views shared by the in-memory CDIB tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dib/Dib.h"

namespace dibtest {

using Bytes = std::vector<BYTE>;

// An 8-bit image from rows of pixel values: colour table zeroed, padding set to `pad`.
inline void MakeRows(CDIB& dib, const std::vector<Bytes>& rows, BYTE pad = 0xEE) {
    ASSERT_TRUE(dib.Create(int(rows[0].size()), int(rows.size()), 8));
    std::memset(dib.m_pColors, 0, 1024);
    std::memset(dib.m_pBits, pad, size_t(dib.m_nStride) * dib.m_nHeight);
    for (size_t y = 0; y < rows.size(); ++y) {
        std::memcpy(dib.GetRowPtr(int(y)), rows[y].data(), rows[y].size());
    }
}

// The first n bytes of row y (counted from the top).
inline Bytes Row(const CDIB& dib, int y, int n) {
    return Bytes(dib.GetRowPtr(y), dib.GetRowPtr(y) + n);
}

// The whole packed block: header, colour table and rows.
inline Bytes Block(const CDIB& dib) {
    const auto* p = static_cast<const BYTE*>(dib.m_pBlock);
    return Bytes(p, p + dib.GetDIBSize());
}

}  // namespace dibtest
