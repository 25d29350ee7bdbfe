#include "sources/sane/SaneCapabilities.h"

#include <cstring>

#include "platform/GlobalMemory.h"

#include "sources/common/SourceConditions.h"

TW_UINT16 SaneCapabilities::Handle(TW_UINT16 msg, TW_CAPABILITY* cap, bool setAllowed,
                                   TW_UINT16* condition) {
    if (!cap) return FailWith(condition, TWCC_BADVALUE);
    if (cap->Cap != CAP_XFERCOUNT) return FailWith(condition, TWCC_CAPUNSUPPORTED);
    switch (msg) {
        case MSG_GET:
        case MSG_GETCURRENT: return Reply(cap, m_transferCount, condition);
        case MSG_GETDEFAULT: return Reply(cap, -1, condition);
        case MSG_SET:
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            return Set(cap, condition);
        case MSG_RESET:
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            m_transferCount = -1;
            return Reply(cap, m_transferCount, condition);
        default: return FailWith(condition, TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SaneCapabilities::Reply(TW_CAPABILITY* cap, int count, TW_UINT16* condition) const {
    const TW_ONEVALUE value{TWTY_INT16, static_cast<TW_UINT16>(count)};
    HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    if (!block) return FailWith(condition, TWCC_LOWMEMORY);
    std::memcpy(GlobalLock(block), &value, sizeof value);
    GlobalUnlock(block);
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = block;
    return TWRC_SUCCESS;
}

TW_UINT16 SaneCapabilities::Set(TW_CAPABILITY* cap, TW_UINT16* condition) {
    // The application's container, read only within its block.
    HGLOBAL block = static_cast<HGLOBAL>(cap->hContainer);
    if (cap->ConType != TWON_ONEVALUE || GlobalSize(block) < sizeof(TW_ONEVALUE))
        return FailWith(condition, TWCC_BADVALUE);
    TW_ONEVALUE value{};
    const void* bytes = GlobalLock(block);
    if (!bytes) return FailWith(condition, TWCC_BADVALUE);
    std::memcpy(&value, bytes, sizeof value);
    GlobalUnlock(block);
    if (value.ItemType != TWTY_INT16 && value.ItemType != TWTY_UINT16)
        return FailWith(condition, TWCC_BADVALUE);
    const TW_INT16 count = static_cast<TW_INT16>(value.Item & 0xffff);
    if (count == -1 || count >= 1) {
        m_transferCount = count;
        return TWRC_SUCCESS;
    }
    // The nearest count this source can honour.
    m_transferCount = count == 0 ? 1 : -1;
    *condition = TWCC_BADVALUE;
    return TWRC_CHECKSTATUS;
}
