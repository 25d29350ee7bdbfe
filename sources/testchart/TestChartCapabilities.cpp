#include "sources/testchart/TestChartCapabilities.h"

#include <algorithm>

#include "sources/common/OneValueContainer.h"
#include "sources/common/SourceConditions.h"

namespace {

bool IsNegotiable(TW_UINT16 capability) {
    return capability == CAP_XFERCOUNT || capability == ICAP_PIXELTYPE ||
           capability == ICAP_XRESOLUTION || capability == ICAP_YRESOLUTION;
}

TW_UINT32 Fix32Item(int whole) { return static_cast<TW_UINT16>(whole); }

// A TW_FIX32 held in Item: Whole in the low half, Frac in the high half, rounded.
int Fix32Rounded(TW_UINT32 item) {
    const int whole = static_cast<TW_INT16>(item & 0xffff);
    const unsigned frac = item >> 16;
    return whole + (frac >= 0x8000 ? 1 : 0);
}

}  // namespace

int TestChartCapabilities::BatchPages() const {
    return m_transferCount == -1 ? m_settings.pages : std::min(m_transferCount, m_settings.pages);
}

TW_UINT16 TestChartCapabilities::Handle(TW_UINT16 msg, TW_CAPABILITY* cap, bool setAllowed,
                                        TW_UINT16* condition) {
    if (!cap) return FailWith(condition, TWCC_BADVALUE);
    if (!IsNegotiable(cap->Cap)) return FailWith(condition, TWCC_CAPUNSUPPORTED);
    switch (msg) {
        case MSG_GET:
        case MSG_GETCURRENT: return Reply(cap, condition);
        case MSG_GETDEFAULT: {
            TestChartSettings defaults;
            TestChartCapabilities fresh(defaults);
            return fresh.Reply(cap, condition);
        }
        case MSG_SET:
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            return Set(cap, condition);
        case MSG_RESET:
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            Reset(cap->Cap);
            return Reply(cap, condition);
        default: return FailWith(condition, TWCC_BADPROTOCOL);
    }
}

bool TestChartCapabilities::CurrentItem(TW_UINT16 capability, TW_UINT16* itemType,
                                        TW_UINT32* item) const {
    switch (capability) {
        case CAP_XFERCOUNT:
            *itemType = TWTY_INT16;
            *item = static_cast<TW_UINT16>(m_transferCount);
            return true;
        case ICAP_PIXELTYPE:
            *itemType = TWTY_UINT16;
            *item = static_cast<TW_UINT16>(m_settings.TwainPixelType());
            return true;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION:
            *itemType = TWTY_FIX32;
            *item = Fix32Item(m_settings.dpi);
            return true;
        default: return false;
    }
}

TW_UINT16 TestChartCapabilities::Reply(TW_CAPABILITY* cap, TW_UINT16* condition) const {
    TW_UINT16 itemType = 0;
    TW_UINT32 item = 0;
    if (!CurrentItem(cap->Cap, &itemType, &item)) return FailWith(condition, TWCC_CAPUNSUPPORTED);
    return ReplyOneValue(cap, itemType, item, condition);
}

TW_UINT16 TestChartCapabilities::Set(TW_CAPABILITY* cap, TW_UINT16* condition) {
    TW_ONEVALUE value{};
    if (!ReadOneValue(*cap, &value)) return FailWith(condition, TWCC_BADVALUE);
    TW_INT16 item = 0;
    switch (cap->Cap) {
        case CAP_XFERCOUNT: {
            if (!SixteenBitItem(value, &item)) return FailWith(condition, TWCC_BADVALUE);
            if (item == -1 || (item >= 1 && item <= m_settings.pages)) {
                m_transferCount = item;
                return TWRC_SUCCESS;
            }
            // The nearest count this source can honour.
            m_transferCount = item < -1 ? -1 : item == 0 ? 1 : m_settings.pages;
            *condition = TWCC_BADVALUE;
            return TWRC_CHECKSTATUS;
        }
        case ICAP_PIXELTYPE:
            if (!SixteenBitItem(value, &item)) return FailWith(condition, TWCC_BADVALUE);
            switch (item) {
                case TWPT_BW: m_settings.pixelType = ChartPixelType::BlackWhite; break;
                case TWPT_GRAY:
                    // Grey stays 4-bit when it was; otherwise grey means 8-bit.
                    if (m_settings.pixelType != ChartPixelType::Gray4)
                        m_settings.pixelType = ChartPixelType::Gray8;
                    break;
                case TWPT_RGB: m_settings.pixelType = ChartPixelType::Rgb; break;
                case TWPT_PALETTE: m_settings.pixelType = ChartPixelType::Palette; break;
                default: return FailWith(condition, TWCC_BADVALUE);
            }
            return TWRC_SUCCESS;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION: {
            if (value.ItemType != TWTY_FIX32) return FailWith(condition, TWCC_BADVALUE);
            const int asked = Fix32Rounded(value.Item);
            m_settings.dpi =
                std::clamp(asked, TestChartSettings::kMinDpi, TestChartSettings::kMaxDpi);
            if (m_settings.dpi == asked && (value.Item >> 16) == 0) return TWRC_SUCCESS;
            *condition = TWCC_BADVALUE;
            return TWRC_CHECKSTATUS;
        }
        default: return FailWith(condition, TWCC_CAPUNSUPPORTED);
    }
}

void TestChartCapabilities::Reset(TW_UINT16 capability) {
    const TestChartSettings defaults;
    switch (capability) {
        case CAP_XFERCOUNT: m_transferCount = -1; break;
        case ICAP_PIXELTYPE: m_settings.pixelType = defaults.pixelType; break;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION: m_settings.dpi = defaults.dpi; break;
        default: break;
    }
}
