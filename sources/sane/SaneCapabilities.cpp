#include "sources/sane/SaneCapabilities.h"

#include <algorithm>
#include <cmath>

#include "sources/common/OneValueContainer.h"
#include "sources/common/SourceConditions.h"

namespace {

TW_UINT16 Answer(SaneSetOutcome outcome, TW_UINT16* condition) {
    switch (outcome) {
        case SaneSetOutcome::Exact: return TWRC_SUCCESS;
        case SaneSetOutcome::Nearest: *condition = TWCC_BADVALUE; return TWRC_CHECKSTATUS;
        case SaneSetOutcome::BadValue: return FailWith(condition, TWCC_BADVALUE);
        case SaneSetOutcome::Unsupported: return FailWith(condition, TWCC_CAPUNSUPPORTED);
        default: return FailWith(condition, TWCC_OPERATIONERROR);
    }
}

TW_UINT32 Fix32Item(double value) { return Fix32ToItem(DoubleToFix32(value)); }

TW_UINT16 ReplyBool(TW_CAPABILITY* cap, bool value, TW_UINT16* condition) {
    return ReplyOneValue(cap, TWTY_BOOL, value ? 1 : 0, condition);
}

bool IsDeviceCapability(TW_UINT16 cap) {
    switch (cap) {
        case CAP_FEEDERENABLED:
        case CAP_FEEDERLOADED:
        case CAP_DUPLEX:
        case CAP_DUPLEXENABLED:
        case ICAP_PIXELTYPE:
        case ICAP_BITDEPTH:
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION:
        case ICAP_PHYSICALWIDTH:
        case ICAP_PHYSICALHEIGHT: return true;
        default: return false;
    }
}

bool IsReadOnly(TW_UINT16 cap) {
    return cap == CAP_FEEDERLOADED || cap == CAP_DUPLEX || cap == ICAP_PHYSICALWIDTH ||
           cap == ICAP_PHYSICALHEIGHT;
}

}  // namespace

TW_UINT16 SaneCapabilities::Handle(TW_UINT16 msg, TW_CAPABILITY* cap, Access access,
                                   TW_UINT16* condition) {
    if (!cap) return FailWith(condition, TWCC_BADVALUE);
    const bool ownCapability = cap->Cap == CAP_XFERCOUNT || cap->Cap == ICAP_UNITS;
    if (!ownCapability && !IsDeviceCapability(cap->Cap))
        return FailWith(condition, TWCC_CAPUNSUPPORTED);
    if (msg != MSG_GET && msg != MSG_GETCURRENT && msg != MSG_GETDEFAULT && msg != MSG_SET &&
        msg != MSG_RESET)
        return FailWith(condition, TWCC_BADPROTOCOL);
    if ((msg == MSG_SET || msg == MSG_RESET) && !access.setAllowed)
        return FailWith(condition, TWCC_SEQERROR);
    if (cap->Cap == CAP_XFERCOUNT) return TransferCountCap(msg, cap, condition);
    if (cap->Cap == ICAP_UNITS) return UnitsCap(msg, cap, condition);
    if (!access.deviceFree) return FailWith(condition, TWCC_SEQERROR);
    m_options.PrepareOnce();
    if (!Supported(cap->Cap)) return FailWith(condition, TWCC_CAPUNSUPPORTED);
    const bool readOnly = IsReadOnly(cap->Cap);
    if (msg == MSG_RESET || (msg == MSG_SET && readOnly) || (msg == MSG_GETDEFAULT && !readOnly))
        return FailWith(condition, TWCC_CAPBADOPERATION);
    return msg == MSG_SET ? Set(cap, condition) : Get(msg, cap, condition);
}

bool SaneCapabilities::Supported(TW_UINT16 cap) const {
    SaneNumericOption option;
    double value = 0;
    bool loaded = false;
    SaneAreaInches whole;
    switch (cap) {
        case CAP_FEEDERENABLED: return m_options.HasFeeder();
        case CAP_DUPLEXENABLED: return m_options.HasDuplex();
        case CAP_FEEDERLOADED: return m_options.FeederLoaded(&loaded);
        case CAP_DUPLEX: return true;
        case ICAP_PIXELTYPE:
        case ICAP_BITDEPTH: return !m_options.PixelTypes().empty();
        case ICAP_XRESOLUTION: return m_options.Resolution(Axis::X, &option, &value);
        case ICAP_YRESOLUTION: return m_options.Resolution(Axis::Y, &option, &value);
        default: return m_options.WholeArea(&whole);  // ICAP_PHYSICALWIDTH, _HEIGHT
    }
}

TW_UINT16 SaneCapabilities::TransferCountCap(TW_UINT16 msg, TW_CAPABILITY* cap,
                                             TW_UINT16* condition) {
    const auto reply = [cap, condition](int count) {
        return ReplyOneValue(cap, TWTY_INT16, static_cast<TW_UINT16>(count), condition);
    };
    switch (msg) {
        case MSG_GETDEFAULT: return reply(-1);
        case MSG_SET: return SetTransferCount(cap, condition);
        case MSG_RESET: m_transferCount = -1; return reply(m_transferCount);
        default: return reply(m_transferCount);  // MSG_GET, MSG_GETCURRENT
    }
}

// Areas and sizes are answered in inches only.
TW_UINT16 SaneCapabilities::UnitsCap(TW_UINT16 msg, TW_CAPABILITY* cap, TW_UINT16* condition) {
    if (msg == MSG_SET) {
        TW_ONEVALUE value{};
        TW_INT16 unit = 0;
        if (!ReadOneValue(*cap, &value) || !SixteenBitItem(value, &unit) || unit != TWUN_INCHES)
            return FailWith(condition, TWCC_BADVALUE);
        return TWRC_SUCCESS;
    }
    return ReplyOneValue(cap, TWTY_UINT16, TWUN_INCHES, condition);
}

TW_UINT16 SaneCapabilities::SetTransferCount(TW_CAPABILITY* cap, TW_UINT16* condition) {
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

// For a capability Supported() allows.
TW_UINT16 SaneCapabilities::Get(TW_UINT16 msg, TW_CAPABILITY* cap, TW_UINT16* condition) {
    const auto unsupported = [condition] { return FailWith(condition, TWCC_CAPUNSUPPORTED); };
    switch (cap->Cap) {
        case CAP_FEEDERENABLED: return ReplyBool(cap, m_options.FeederEnabled(), condition);
        case CAP_DUPLEXENABLED: return ReplyBool(cap, m_options.DuplexEnabled(), condition);
        case CAP_FEEDERLOADED: {
            bool loaded = false;
            if (!m_options.FeederLoaded(&loaded)) return unsupported();
            return ReplyBool(cap, loaded, condition);
        }
        case CAP_DUPLEX:
            return ReplyOneValue(cap, TWTY_UINT16,
                                 m_options.HasDuplex() ? TWDX_1PASSDUPLEX : TWDX_NONE, condition);
        case ICAP_PIXELTYPE: {
            const std::vector<TW_UINT16> types = m_options.PixelTypes();
            TW_UINT16 current = 0;
            // A mode that is no TWAIN pixel type (infrared, say) cannot be described.
            if (!m_options.PixelType(&current)) return FailWith(condition, TWCC_BADVALUE);
            if (msg == MSG_GETCURRENT) return ReplyOneValue(cap, TWTY_UINT16, current, condition);
            const size_t index =
                size_t(std::find(types.begin(), types.end(), current) - types.begin());
            const std::vector<TW_UINT32> items(types.begin(), types.end());
            const size_t at = std::min(index, items.size() - 1);
            return ReplyEnumeration(cap, TWTY_UINT16, items, at, at, condition);
        }
        case ICAP_BITDEPTH: {
            int bits = 0;
            if (!m_options.BitDepth(&bits)) return FailWith(condition, TWCC_BADVALUE);
            return ReplyOneValue(cap, TWTY_UINT16, TW_UINT32(bits), condition);
        }
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION: return Resolutions(cap, msg == MSG_GETCURRENT, condition);
        default: {  // ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT
            SaneAreaInches whole;
            if (!m_options.WholeArea(&whole)) return unsupported();
            const double size = cap->Cap == ICAP_PHYSICALWIDTH ? whole.right : whole.bottom;
            return ReplyOneValue(cap, TWTY_FIX32, Fix32Item(size), condition);
        }
    }
}

TW_UINT16 SaneCapabilities::Resolutions(TW_CAPABILITY* cap, bool current, TW_UINT16* condition) {
    const Axis axis = cap->Cap == ICAP_XRESOLUTION ? Axis::X : Axis::Y;
    SaneNumericOption option;
    double dpi = 0;
    if (!m_options.Resolution(axis, &option, &dpi)) return FailWith(condition, TWCC_CAPUNSUPPORTED);
    const TW_UINT32 now = Fix32Item(dpi);
    if (current || option.Kind() == SaneNumericOption::Constraint::None)
        return ReplyOneValue(cap, TWTY_FIX32, now, condition);
    if (option.Kind() == SaneNumericOption::Constraint::Range) {
        // A range without steps takes any value a TW_FIX32 can hold.
        const double step = option.Step() > 0 ? option.Step() : option.Fixed() ? 1 / 65536.0 : 1;
        return ReplyRange(cap, TWTY_FIX32, Fix32Item(option.Min()), Fix32Item(option.Max()),
                          Fix32Item(step), now, now, condition);
    }
    std::vector<TW_UINT32> items;
    size_t index = 0;
    for (double value : option.Values()) {
        if (std::fabs(value - dpi) < std::fabs(option.Values()[index] - dpi)) index = items.size();
        items.push_back(Fix32Item(value));
    }
    return ReplyEnumeration(cap, TWTY_FIX32, items, index, index, condition);
}

TW_UINT16 SaneCapabilities::Set(TW_CAPABILITY* cap, TW_UINT16* condition) {
    TW_ONEVALUE value{};
    if (!ReadOneValue(*cap, &value)) return FailWith(condition, TWCC_BADVALUE);
    const TW_UINT16 item16 = TW_UINT16(value.Item & 0xffff);
    const bool isBool = value.ItemType == TWTY_BOOL;
    const bool isWord = value.ItemType == TWTY_UINT16 || value.ItemType == TWTY_INT16;
    switch (cap->Cap) {
        case CAP_FEEDERENABLED:
            if (!isBool) return FailWith(condition, TWCC_BADVALUE);
            return Answer(m_options.SetFeederEnabled(item16 != 0), condition);
        case CAP_DUPLEXENABLED:
            if (!isBool) return FailWith(condition, TWCC_BADVALUE);
            return Answer(m_options.SetDuplexEnabled(item16 != 0), condition);
        case ICAP_PIXELTYPE:
            if (!isWord) return FailWith(condition, TWCC_BADVALUE);
            return Answer(m_options.SetPixelType(item16), condition);
        case ICAP_BITDEPTH:
            if (!isWord) return FailWith(condition, TWCC_BADVALUE);
            return Answer(m_options.SetBitDepth(item16), condition);
        default: {  // ICAP_XRESOLUTION, ICAP_YRESOLUTION
            if (value.ItemType != TWTY_FIX32) return FailWith(condition, TWCC_BADVALUE);
            const Axis axis = cap->Cap == ICAP_XRESOLUTION ? Axis::X : Axis::Y;
            return Answer(m_options.SetResolution(axis, Fix32ToDouble(ItemToFix32(value.Item))),
                          condition);
        }
    }
}

TW_UINT16 SaneCapabilities::Layout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, Access access,
                                   TW_UINT16* condition) {
    if (msg != MSG_GET && msg != MSG_GETDEFAULT && msg != MSG_SET && msg != MSG_RESET)
        return FailWith(condition, TWCC_BADPROTOCOL);
    if ((msg == MSG_SET || msg == MSG_RESET) && !access.setAllowed)
        return FailWith(condition, TWCC_SEQERROR);
    if (!access.deviceFree) return FailWith(condition, TWCC_SEQERROR);
    m_options.PrepareOnce();
    SaneAreaInches whole;
    // A device without a scan area has no layout to negotiate.
    if (!m_options.WholeArea(&whole)) return FailWith(condition, TWCC_BADPROTOCOL);
    TW_UINT16 rc = TWRC_SUCCESS;
    if (msg == MSG_SET) {
        const TW_FRAME& frame = layout->Frame;
        rc = Answer(m_options.SetArea({Fix32ToDouble(frame.Left), Fix32ToDouble(frame.Top),
                                       Fix32ToDouble(frame.Right), Fix32ToDouble(frame.Bottom)}),
                    condition);
        if (rc == TWRC_FAILURE) return rc;
    } else if (msg == MSG_RESET) {
        // The whole area is what a reset asks, however near the device lands.
        const SaneSetOutcome outcome = m_options.SetArea(whole);
        if (outcome > SaneSetOutcome::Nearest) return Answer(outcome, condition);
    }
    SaneAreaInches area = whole;
    if (msg != MSG_GETDEFAULT && !m_options.Area(&area))
        return FailWith(condition, TWCC_OPERATIONERROR);
    layout->Frame = {DoubleToFix32(area.left), DoubleToFix32(area.top), DoubleToFix32(area.right),
                     DoubleToFix32(area.bottom)};
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
    return rc;
}
