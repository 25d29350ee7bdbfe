#include "twain/CapabilityValues.h"

#include <cstring>

namespace {

// The item at `p` widened to a one-value Item: the low bytes, little-endian.
TW_UINT32 ReadItem(const unsigned char* p, size_t itemSize) {
    TW_UINT32 item = 0;
    std::memcpy(&item, p, itemSize);
    return item;
}

// NumItems items of `itemSize` bytes after `head` bytes, all within `size`.
bool ReadList(const unsigned char* bytes, size_t size, size_t head, TW_UINT32 count,
              size_t itemSize, std::vector<TW_UINT32>* items) {
    if (head > size || count > (size - head) / itemSize) return false;
    items->reserve(count);
    for (TW_UINT32 i = 0; i < count; ++i) items->push_back(ReadItem(bytes + head + i * itemSize, itemSize));
    return true;
}

}  // namespace

bool CapabilityValues::Read(TW_UINT16 conType, const void* block, size_t size,
                            CapabilityValues* values) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    if (!bytes || size < sizeof(TW_UINT16)) return false;
    CapabilityValues read;
    std::memcpy(&read.itemType, bytes, sizeof read.itemType);
    const size_t itemSize = TwainItemSize(read.itemType);
    if (itemSize == 0) return false;
    switch (conType) {
        case TWON_ONEVALUE: {
            if (size < sizeof(TW_ONEVALUE)) return false;
            TW_ONEVALUE one;
            std::memcpy(&one, bytes, sizeof one);
            read.current = ReadItem(bytes + offsetof(TW_ONEVALUE, Item), itemSize);
            read.items.push_back(read.current);
            break;
        }
        case TWON_ENUMERATION: {
            const size_t head = offsetof(TW_ENUMERATION, ItemList);
            if (size < head) return false;
            TW_ENUMERATION list;
            std::memcpy(&list, bytes, head);
            if (!ReadList(bytes, size, head, list.NumItems, itemSize, &read.items)) return false;
            if (list.CurrentIndex < read.items.size()) read.current = read.items[list.CurrentIndex];
            break;
        }
        case TWON_ARRAY: {
            const size_t head = offsetof(TW_ARRAY, ItemList);
            if (size < head) return false;
            TW_ARRAY list;
            std::memcpy(&list, bytes, head);
            if (!ReadList(bytes, size, head, list.NumItems, itemSize, &read.items)) return false;
            if (!read.items.empty()) read.current = read.items.front();
            break;
        }
        case TWON_RANGE: {
            if (size < sizeof(TW_RANGE)) return false;
            TW_RANGE range;
            std::memcpy(&range, bytes, sizeof range);
            read.isRange = true;
            read.min = range.MinValue;
            read.max = range.MaxValue;
            read.step = range.StepSize;
            read.current = range.CurrentValue;
            break;
        }
        default: return false;
    }
    *values = std::move(read);
    return true;
}

size_t CapabilityValues::DescribedSize(TW_UINT16 conType, const void* block) {
    constexpr TW_UINT32 kMostItems = 4096;
    const auto* bytes = static_cast<const unsigned char*>(block);
    TW_UINT16 itemType = 0;
    std::memcpy(&itemType, bytes, sizeof itemType);
    const size_t itemSize = TwainItemSize(itemType);
    if (itemSize == 0) return 0;
    TW_UINT32 count = 0;
    switch (conType) {
        case TWON_ONEVALUE: return sizeof(TW_ONEVALUE);
        case TWON_RANGE: return sizeof(TW_RANGE);
        case TWON_ENUMERATION:
            std::memcpy(&count, bytes + offsetof(TW_ENUMERATION, NumItems), sizeof count);
            return count > kMostItems ? 0 : offsetof(TW_ENUMERATION, ItemList) + count * itemSize;
        case TWON_ARRAY:
            std::memcpy(&count, bytes + offsetof(TW_ARRAY, NumItems), sizeof count);
            return count > kMostItems ? 0 : offsetof(TW_ARRAY, ItemList) + count * itemSize;
        default: return 0;
    }
}

double CapabilityValues::Number(TW_UINT32 item) const {
    switch (itemType) {
        case TWTY_FIX32: return Fix32ToDouble(ItemToFix32(item));
        case TWTY_INT8: return static_cast<int8_t>(item & 0xff);
        case TWTY_INT16: return static_cast<int16_t>(item & 0xffff);
        case TWTY_INT32: return static_cast<int32_t>(item);
        case TWTY_UINT8: return item & 0xff;
        case TWTY_UINT16:
        case TWTY_BOOL: return item & 0xffff;
        default: return item;
    }
}
