// Capability negotiation for the test chart, each capability as a one-value container
// (TW_ONEVALUE in a global block): CAP_XFERCOUNT (TWTY_INT16), ICAP_PIXELTYPE
// (TWTY_UINT16), ICAP_XRESOLUTION and ICAP_YRESOLUTION (TWTY_FIX32, one resolution
// for both directions).
#pragma once

#include "sources/testchart/TestChartSettings.h"
#include "twain/TwainTypes.h"

class TestChartCapabilities {
public:
    explicit TestChartCapabilities(TestChartSettings& settings) : m_settings(settings) {}

    // DG_CONTROL / DAT_CAPABILITY / msg. MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT and
    // MSG_RESET store a new container in cap->hContainer that the application frees;
    // MSG_SET reads the application's container. setAllowed is false once the source
    // is enabled: MSG_SET and MSG_RESET then fail with TWCC_SEQERROR.
    TW_UINT16 Handle(TW_UINT16 msg, TW_CAPABILITY* cap, bool setAllowed, TW_UINT16* condition);

    // -1 (every page the settings ask for) or a count from 1 to settings.pages.
    int TransferCount() const { return m_transferCount; }
    // Pages in the next batch: the transfer count, within the pages the settings ask for.
    int BatchPages() const;

private:
    // The value of a capability, as its container's Item holds it.
    bool CurrentItem(TW_UINT16 capability, TW_UINT16* itemType, TW_UINT32* item) const;
    TW_UINT16 Reply(TW_CAPABILITY* cap, TW_UINT16* condition) const;
    TW_UINT16 Set(TW_CAPABILITY* cap, TW_UINT16* condition);
    void Reset(TW_UINT16 capability);

    TestChartSettings& m_settings;
    int m_transferCount = -1;
};
