// Capability negotiation for a SANE source: CAP_XFERCOUNT (TWTY_INT16, -1 for every
// page the feeder holds) as a one-value container (TW_ONEVALUE in a global block).
// The image's own description comes with DAT_IMAGEINFO per page; the device's
// options are set in the source's window or through VELOMARK_SANE_OPTIONS.
#pragma once

#include "twain/TwainTypes.h"

class SaneCapabilities {
public:
    // The largest page count a batch can be asked for.
    static constexpr int kMaxTransferCount = 0x7fff;

    // DG_CONTROL / DAT_CAPABILITY / msg. MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT and
    // MSG_RESET store a new container that the application frees; MSG_SET reads the
    // application's. setAllowed is false once the source is enabled: MSG_SET and
    // MSG_RESET then fail with TWCC_SEQERROR.
    TW_UINT16 Handle(TW_UINT16 msg, TW_CAPABILITY* cap, bool setAllowed, TW_UINT16* condition);

    // -1 (every page) or a count from 1.
    int TransferCount() const { return m_transferCount; }

private:
    TW_UINT16 Reply(TW_CAPABILITY* cap, int count, TW_UINT16* condition) const;
    TW_UINT16 Set(TW_CAPABILITY* cap, TW_UINT16* condition);

    int m_transferCount = -1;
};
