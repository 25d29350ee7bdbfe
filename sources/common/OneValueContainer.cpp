#include "sources/common/OneValueContainer.h"

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

TW_UINT16 ReplyOneValue(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 item,
                        TW_UINT16* condition) {
    const TW_ONEVALUE value{itemType, item};
    HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    if (!block) return FailWith(condition, TWCC_LOWMEMORY);
    std::memcpy(GlobalLock(block), &value, sizeof value);
    GlobalUnlock(block);
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = block;
    return TWRC_SUCCESS;
}
