#include "sources/testchart/TestChartCapabilities.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "sources/common/OneValueContainer.h"
#include "sources/common/SourceConditions.h"
#include "sources/testchart/TestChartBatch.h"

namespace {

constexpr TW_UINT16 kNegotiable[] = {CAP_XFERCOUNT,    CAP_FEEDERENABLED, CAP_DUPLEXENABLED,
                                     ICAP_PIXELTYPE,   ICAP_BITDEPTH,     ICAP_XRESOLUTION,
                                     ICAP_YRESOLUTION, ICAP_UNITS};
constexpr TW_UINT16 kReadOnly[] = {CAP_FEEDERLOADED, CAP_DUPLEX, ICAP_PHYSICALWIDTH,
                                   ICAP_PHYSICALHEIGHT};
// In the order of ICAP_PIXELTYPE's enumeration.
constexpr TW_INT16 kPixelTypes[] = {TWPT_BW, TWPT_GRAY, TWPT_RGB, TWPT_PALETTE};

bool OneOf(TW_UINT16 capability, const TW_UINT16* begin, const TW_UINT16* end) {
    return std::find(begin, end, capability) != end;
}
bool IsNegotiable(TW_UINT16 cap) {
    return OneOf(cap, std::begin(kNegotiable), std::end(kNegotiable));
}
bool IsReadOnly(TW_UINT16 cap) { return OneOf(cap, std::begin(kReadOnly), std::end(kReadOnly)); }

TW_UINT32 WholeFix32Item(int whole) { return Fix32ToItem(TW_FIX32{TW_INT16(whole), 0}); }

// A length of the bed in 1/65536 inch as a TW_FIX32 item.
TW_UINT32 UnitsFix32Item(int64_t units) {
    return Fix32ToItem(TW_FIX32{TW_INT16(units >> 16), TW_UINT16(units & 0xffff)});
}

// A TW_FIX32 held in Item, rounded to the nearest whole number.
int Fix32Rounded(TW_UINT32 item) {
    const TW_FIX32 value = ItemToFix32(item);
    return value.Whole + (value.Frac >= 0x8000 ? 1 : 0);
}

// The bit depths a pixel type comes in, the usual one first.
std::vector<TW_UINT32> DepthsOf(ChartPixelType type) {
    switch (type) {
        case ChartPixelType::BlackWhite: return {1};
        case ChartPixelType::Gray4:
        case ChartPixelType::Gray8: return {8, 4};
        case ChartPixelType::Palette: return {8};
        case ChartPixelType::Rgb: return {24};
    }
    return {24};
}

// A TWTY_BOOL item: 0 is FALSE, anything else TRUE.
bool BoolItem(const TW_ONEVALUE& value, bool* item) {
    if (value.ItemType != TWTY_BOOL) return false;
    *item = (value.Item & 0xffff) != 0;
    return true;
}

// The item a capability's one-value container holds for these settings.
bool CurrentItem(TW_UINT16 capability, const TestChartSettings& settings, int transferCount,
                 bool feederLoaded, TW_UINT16* itemType, TW_UINT32* item) {
    *itemType = TWTY_UINT16;
    switch (capability) {
        case CAP_XFERCOUNT:
            *itemType = TWTY_INT16;
            *item = static_cast<TW_UINT16>(transferCount);
            return true;
        case CAP_FEEDERENABLED:
        case CAP_DUPLEXENABLED:
        case CAP_FEEDERLOADED:
            *itemType = TWTY_BOOL;
            *item = capability == CAP_FEEDERENABLED   ? settings.feederEnabled
                    : capability == CAP_DUPLEXENABLED ? settings.duplexEnabled
                                                      : feederLoaded;
            return true;
        case CAP_DUPLEX: *item = TWDX_1PASSDUPLEX; return true;
        case ICAP_PIXELTYPE: *item = static_cast<TW_UINT16>(settings.TwainPixelType()); return true;
        case ICAP_BITDEPTH: *item = static_cast<TW_UINT32>(settings.BitsPerPixel()); return true;
        case ICAP_UNITS: *item = TWUN_INCHES; return true;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION:
            *itemType = TWTY_FIX32;
            *item = WholeFix32Item(settings.dpi);
            return true;
        case ICAP_PHYSICALWIDTH:
        case ICAP_PHYSICALHEIGHT:
            *itemType = TWTY_FIX32;
            *item = UnitsFix32Item(capability == ICAP_PHYSICALWIDTH ? settings.BedWidthUnits()
                                                                    : settings.BedHeightUnits());
            return true;
        default: return false;
    }
}

TW_UINT16 ReplyCurrent(TW_CAPABILITY* cap, const TestChartSettings& settings, int transferCount,
                       bool feederLoaded, TW_UINT16* condition) {
    TW_UINT16 itemType = 0;
    TW_UINT32 item = 0;
    if (!CurrentItem(cap->Cap, settings, transferCount, feederLoaded, &itemType, &item))
        return FailWith(condition, TWCC_CAPUNSUPPORTED);
    return ReplyOneValue(cap, itemType, item, condition);
}

}  // namespace

TW_UINT16 TestChartCapabilities::Handle(TW_UINT16 msg, TW_CAPABILITY* cap, bool setAllowed,
                                        bool feederLoaded, TW_UINT16* condition) {
    if (!cap) return FailWith(condition, TWCC_BADVALUE);
    const bool readOnly = IsReadOnly(cap->Cap);
    if (!readOnly && !IsNegotiable(cap->Cap)) return FailWith(condition, TWCC_CAPUNSUPPORTED);
    switch (msg) {
        case MSG_GET: return ReplyAbilities(cap, feederLoaded, condition);
        case MSG_GETCURRENT:
            return ReplyCurrent(cap, m_settings, m_transferCount, feederLoaded, condition);
        case MSG_GETDEFAULT: return ReplyCurrent(cap, m_defaults, -1, true, condition);
        case MSG_SET:
        case MSG_RESET:
            if (readOnly) return FailWith(condition, TWCC_CAPBADOPERATION);
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            if (msg == MSG_SET) return Set(cap, condition);
            Reset(cap->Cap);
            return ReplyCurrent(cap, m_settings, m_transferCount, feederLoaded, condition);
        default: return FailWith(condition, TWCC_BADPROTOCOL);
    }
}

TW_UINT16 TestChartCapabilities::ReplyAbilities(TW_CAPABILITY* cap, bool feederLoaded,
                                                TW_UINT16* condition) const {
    switch (cap->Cap) {
        case ICAP_PIXELTYPE: {
            const auto indexOf = [](TW_INT16 type) {
                return size_t(std::find(std::begin(kPixelTypes), std::end(kPixelTypes), type) -
                              std::begin(kPixelTypes));
            };
            const std::vector<TW_UINT32> items(std::begin(kPixelTypes), std::end(kPixelTypes));
            return ReplyEnumeration(cap, TWTY_UINT16, items, indexOf(m_settings.TwainPixelType()),
                                    indexOf(m_defaults.TwainPixelType()), condition);
        }
        case ICAP_BITDEPTH: {
            const std::vector<TW_UINT32> depths = DepthsOf(m_settings.pixelType);
            const auto current =
                std::find(depths.begin(), depths.end(), TW_UINT32(m_settings.BitsPerPixel()));
            return ReplyEnumeration(cap, TWTY_UINT16, depths, size_t(current - depths.begin()), 0,
                                    condition);
        }
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION:
            return ReplyRange(cap, TWTY_FIX32, WholeFix32Item(TestChartSettings::kMinDpi),
                              WholeFix32Item(TestChartSettings::kMaxDpi), WholeFix32Item(1),
                              WholeFix32Item(m_defaults.dpi), WholeFix32Item(m_settings.dpi),
                              condition);
        default: return ReplyCurrent(cap, m_settings, m_transferCount, feederLoaded, condition);
    }
}

TW_UINT16 TestChartCapabilities::Set(TW_CAPABILITY* cap, TW_UINT16* condition) {
    TW_ONEVALUE value{};
    if (!ReadOneValue(*cap, &value)) return FailWith(condition, TWCC_BADVALUE);
    TW_INT16 item = 0;
    bool on = false;
    switch (cap->Cap) {
        case CAP_XFERCOUNT:
            if (!SixteenBitItem(value, &item)) return FailWith(condition, TWCC_BADVALUE);
            return SetTransferCount(item, condition);
        case CAP_FEEDERENABLED:
        case CAP_DUPLEXENABLED:
            if (!BoolItem(value, &on)) return FailWith(condition, TWCC_BADVALUE);
            (cap->Cap == CAP_FEEDERENABLED ? m_settings.feederEnabled : m_settings.duplexEnabled) =
                on;
            return TWRC_SUCCESS;
        case ICAP_PIXELTYPE:
            if (!SixteenBitItem(value, &item)) return FailWith(condition, TWCC_BADVALUE);
            return SetPixelType(item, condition);
        case ICAP_BITDEPTH:
            if (!SixteenBitItem(value, &item)) return FailWith(condition, TWCC_BADVALUE);
            return SetBitDepth(item, condition);
        case ICAP_UNITS:
            if (!SixteenBitItem(value, &item) || item != TWUN_INCHES)
                return FailWith(condition, TWCC_BADVALUE);
            return TWRC_SUCCESS;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION: {
            if (value.ItemType != TWTY_FIX32) return FailWith(condition, TWCC_BADVALUE);
            const int asked = Fix32Rounded(value.Item);
            m_settings.dpi =
                std::clamp(asked, TestChartSettings::kMinDpi, TestChartSettings::kMaxDpi);
            if (m_settings.dpi == asked && ItemToFix32(value.Item).Frac == 0) return TWRC_SUCCESS;
            *condition = TWCC_BADVALUE;
            return TWRC_CHECKSTATUS;
        }
        default: return FailWith(condition, TWCC_CAPUNSUPPORTED);
    }
}

TW_UINT16 TestChartCapabilities::SetTransferCount(TW_INT16 count, TW_UINT16* condition) {
    const int most = TestChartBatch::MostPages(m_settings);
    if (count == -1 || (count >= 1 && count <= most)) {
        m_transferCount = count;
        return TWRC_SUCCESS;
    }
    // The nearest count this source can honour.
    m_transferCount = count < -1 ? -1 : count == 0 ? 1 : most;
    *condition = TWCC_BADVALUE;
    return TWRC_CHECKSTATUS;
}

TW_UINT16 TestChartCapabilities::SetPixelType(TW_INT16 type, TW_UINT16* condition) {
    switch (type) {
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
    // A pixel type asked for is the type of every page.
    m_settings.mixedTypes = false;
    return TWRC_SUCCESS;
}

TW_UINT16 TestChartCapabilities::SetBitDepth(TW_INT16 depth, TW_UINT16* condition) {
    const bool grey = m_settings.pixelType == ChartPixelType::Gray4 ||
                      m_settings.pixelType == ChartPixelType::Gray8;
    if (grey && (depth == 4 || depth == 8)) {
        m_settings.pixelType = depth == 4 ? ChartPixelType::Gray4 : ChartPixelType::Gray8;
        return TWRC_SUCCESS;
    }
    // Every other type has one depth.
    if (depth == m_settings.BitsPerPixel()) return TWRC_SUCCESS;
    return FailWith(condition, TWCC_BADVALUE);
}

void TestChartCapabilities::Reset(TW_UINT16 capability) {
    switch (capability) {
        case CAP_XFERCOUNT: m_transferCount = -1; break;
        case CAP_FEEDERENABLED: m_settings.feederEnabled = m_defaults.feederEnabled; break;
        case CAP_DUPLEXENABLED: m_settings.duplexEnabled = m_defaults.duplexEnabled; break;
        case ICAP_PIXELTYPE:
            m_settings.pixelType = m_defaults.pixelType;
            m_settings.mixedTypes = m_defaults.mixedTypes;
            break;
        case ICAP_BITDEPTH:
            if (m_settings.pixelType == ChartPixelType::Gray4 ||
                m_settings.pixelType == ChartPixelType::Gray8)
                m_settings.pixelType = m_defaults.pixelType == ChartPixelType::Gray4
                                           ? ChartPixelType::Gray4
                                           : ChartPixelType::Gray8;
            break;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION: m_settings.dpi = m_defaults.dpi; break;
        default: break;
    }
}
