#include "sources/common/OneValueContainer.h"

#include <cstddef>
#include <cstring>

#include "platform/GlobalMemory.h"
#include "sources/common/SourceConditions.h"

bool ReadOneValue(const TW_CAPABILITY& cap, TW_ONEVALUE* value) {
    if (cap.ConType != TWON_ONEVALUE) return false;
    HGLOBAL block = static_cast<HGLOBAL>(cap.hContainer);
    if (GlobalSize(block) < sizeof(TW_ONEVALUE)) return false;
    const void* bytes = GlobalLock(block);
    if (!bytes) return false;
    std::memcpy(value, bytes, sizeof(TW_ONEVALUE));
    GlobalUnlock(block);
    return true;
}

bool SixteenBitItem(const TW_ONEVALUE& value, TW_INT16* item) {
    if (value.ItemType != TWTY_INT16 && value.ItemType != TWTY_UINT16) return false;
    *item = static_cast<TW_INT16>(value.Item & 0xffff);
    return true;
}

namespace {

TW_UINT16 Reply(TW_CAPABILITY* cap, TW_UINT16 conType, const void* bytes, size_t size,
                TW_UINT16* condition) {
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (!block) return FailWith(condition, TWCC_LOWMEMORY);
    std::memcpy(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    cap->ConType = conType;
    cap->hContainer = block;
    return TWRC_SUCCESS;
}

}  // namespace

TW_UINT16 ReplyOneValue(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 item,
                        TW_UINT16* condition) {
    const TW_ONEVALUE value{itemType, item};
    return Reply(cap, TWON_ONEVALUE, &value, sizeof value, condition);
}

TW_UINT16 ReplyEnumeration(TW_CAPABILITY* cap, TW_UINT16 itemType,
                           const std::vector<TW_UINT32>& items, size_t current, size_t fallback,
                           TW_UINT16* condition) {
    const size_t itemSize = TwainItemSize(itemType);
    if (itemSize == 0) return FailWith(condition, TWCC_BADVALUE);
    const size_t head = offsetof(TW_ENUMERATION, ItemList);
    std::vector<unsigned char> bytes(head + itemSize * items.size());
    TW_ENUMERATION enumeration{};
    enumeration.ItemType = itemType;
    enumeration.NumItems = static_cast<TW_UINT32>(items.size());
    enumeration.CurrentIndex = static_cast<TW_UINT32>(current);
    enumeration.DefaultIndex = static_cast<TW_UINT32>(fallback);
    std::memcpy(bytes.data(), &enumeration, head);
    for (size_t i = 0; i < items.size(); ++i)  // little-endian: the item's low bytes
        std::memcpy(bytes.data() + head + i * itemSize, &items[i], itemSize);
    return Reply(cap, TWON_ENUMERATION, bytes.data(), bytes.size(), condition);
}

TW_UINT16 ReplyRange(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 min, TW_UINT32 max,
                     TW_UINT32 step, TW_UINT32 fallback, TW_UINT32 current, TW_UINT16* condition) {
    const TW_RANGE range{itemType, min, max, step, fallback, current};
    return Reply(cap, TWON_RANGE, &range, sizeof range, condition);
}
