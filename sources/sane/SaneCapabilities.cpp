#include "sources/sane/SaneCapabilities.h"

#include "sources/common/OneValueContainer.h"
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
    return ReplyOneValue(cap, TWTY_INT16, static_cast<TW_UINT16>(count), condition);
}

TW_UINT16 SaneCapabilities::Set(TW_CAPABILITY* cap, TW_UINT16* condition) {
    TW_ONEVALUE value{};
    TW_INT16 count = 0;
    if (!ReadOneValue(*cap, &value) || !SixteenBitItem(value, &count))
        return FailWith(condition, TWCC_BADVALUE);
    if (count == -1 || count >= 1) {
        m_transferCount = count;
        return TWRC_SUCCESS;
    }
    // The nearest count this source can honour.
    m_transferCount = count == 0 ? 1 : -1;
    *condition = TWCC_BADVALUE;
    return TWRC_CHECKSTATUS;
}
