// What a source answered to a capability's MSG_GET: its container read within the
// block it came in, whatever the form (one value, enumeration, array or range).
// Items are held as a one-value container's Item holds them (a TW_FIX32 with Whole
// in the low half).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "twain/TwainTypes.h"

struct CapabilityValues {
    TW_UINT16 itemType = 0;
    // The values a list offers (one value: that one); empty for a range.
    std::vector<TW_UINT32> items;
    TW_UINT32 current = 0;
    bool isRange = false;
    TW_UINT32 min = 0;
    TW_UINT32 max = 0;
    TW_UINT32 step = 0;

    // False for an unknown form or item type, or a container longer than `size`.
    static bool Read(TW_UINT16 conType, const void* block, size_t size, CapabilityValues* values);

    // The length a container in memory of unknown size says it has (0: unknown form
    // or type, or a list longer than any source offers).
    static size_t DescribedSize(TW_UINT16 conType, const void* block);

    // A FIX32 or integer item as a number.
    double Number(TW_UINT32 item) const;
};
