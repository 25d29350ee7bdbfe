// Capability negotiation for the test chart. Values: CAP_XFERCOUNT (TWTY_INT16),
// CAP_FEEDERENABLED and CAP_DUPLEXENABLED (TWTY_BOOL), ICAP_PIXELTYPE and ICAP_BITDEPTH
// (TWTY_UINT16), ICAP_XRESOLUTION and ICAP_YRESOLUTION (TWTY_FIX32, one resolution for
// both directions), ICAP_UNITS (TWUN_INCHES only). Read only: CAP_FEEDERLOADED
// (TWTY_BOOL), CAP_DUPLEX (TWDX_1PASSDUPLEX), ICAP_PHYSICALWIDTH and
// ICAP_PHYSICALHEIGHT (TWTY_FIX32 inches of the bed).
//
// MSG_GET answers what the source can do: ICAP_PIXELTYPE and ICAP_BITDEPTH as a
// TWON_ENUMERATION (the depths of the current pixel type), the resolutions as a
// TWON_RANGE; every other capability, and every MSG_GETCURRENT, MSG_GETDEFAULT and
// MSG_RESET, as a TWON_ONEVALUE. Defaults are the settings the source opened with.
#pragma once

#include "sources/testchart/TestChartSettings.h"
#include "twain/TwainTypes.h"

class TestChartCapabilities {
public:
    // settings are the session's, which MSG_SET changes; their value now is the default.
    explicit TestChartCapabilities(TestChartSettings& settings)
        : m_settings(settings), m_defaults(settings) {}

    // DG_CONTROL / DAT_CAPABILITY / msg. Replies are new containers in cap->hContainer
    // that the application frees; MSG_SET reads the application's TWON_ONEVALUE.
    // setAllowed is false once the source is enabled: MSG_SET and MSG_RESET then fail
    // with TWCC_SEQERROR. feederLoaded is what CAP_FEEDERLOADED reads now.
    TW_UINT16 Handle(TW_UINT16 msg, TW_CAPABILITY* cap, bool setAllowed, bool feederLoaded,
                     TW_UINT16* condition);

    // -1 (every page the source has) or a count from 1 to TestChartBatch::MostPages.
    int TransferCount() const { return m_transferCount; }

private:
    TW_UINT16 ReplyAbilities(TW_CAPABILITY* cap, bool feederLoaded, TW_UINT16* condition) const;
    TW_UINT16 Set(TW_CAPABILITY* cap, TW_UINT16* condition);
    TW_UINT16 SetTransferCount(TW_INT16 count, TW_UINT16* condition);
    TW_UINT16 SetPixelType(TW_INT16 type, TW_UINT16* condition);
    TW_UINT16 SetBitDepth(TW_INT16 depth, TW_UINT16* condition);
    void Reset(TW_UINT16 capability);

    TestChartSettings& m_settings;
    const TestChartSettings m_defaults;
    int m_transferCount = -1;
};
