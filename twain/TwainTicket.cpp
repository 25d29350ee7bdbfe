// CTwain: scanning with a ticket. The source is opened afresh and the ticket's
// settings negotiated in state 4, before MSG_ENABLEDS; a value the source can take
// only approximately (TWRC_CHECKSTATUS) is taken as the source reads it back, and a
// setting it cannot take at all fails the acquisition with a sentence naming it.
// Also what a source can do (its abilities), read with MSG_GET.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "twain/CapabilityValues.h"
#include "twain/LibraryPins.h"
#include "twain/ScanTicket.h"
#include "twain/SourceAbilities.h"
#include "twain/Twain.h"

namespace {

bool SameProduct(const TW_IDENTITY& identity, const std::string& name) {
    return name == std::string(identity.ProductName,
                               strnlen(identity.ProductName, sizeof(identity.ProductName)));
}

const char* ColorWords(ScanTicket::Color color) {
    switch (color) {
        case ScanTicket::Color::BlackWhite: return "black and white";
        case ScanTicket::Color::Gray: return "grey";
        default: return "colour";
    }
}

TW_UINT32 FixItem(double value) { return Fix32ToItem(DoubleToFix32(value)); }

int64_t InchesToAreaUnits(double inches) {
    return std::llround(inches * ScanTicket::kAreaUnitsPerInch);
}

}  // namespace

BOOL CTwain::SetCapability(const TW_IDENTITY& source, TW_UINT16 cap, TW_UINT16 itemType,
                           TW_UINT32 item) {
    TW_HANDLE hContainer = m_memory.Allocate(sizeof(TW_ONEVALUE));
    void* p = hContainer ? m_memory.Lock(hContainer) : nullptr;
    if (!p) {
        if (hContainer) m_memory.Free(hContainer);
        m_nReturnCode = TWRC_FAILURE;
        return FALSE;
    }
    const TW_ONEVALUE one{itemType, item};
    std::memcpy(p, &one, sizeof one);
    m_memory.Unlock(hContainer);
    TW_IDENTITY dest = source;
    TW_CAPABILITY capability{cap, TWON_ONEVALUE, hContainer};
    CallDsm(&m_AppId, &dest, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    m_memory.Free(hContainer);
    return m_nReturnCode == TWRC_SUCCESS || m_nReturnCode == TWRC_CHECKSTATUS;
}

BOOL CTwain::GetCapability(const TW_IDENTITY& source, TW_UINT16 cap, TW_UINT16 msg,
                           CapabilityValues* values) {
    TW_IDENTITY dest = source;
    TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
    if (!CallDsm(&m_AppId, &dest, DG_CONTROL, DAT_CAPABILITY, msg, &capability)) return FALSE;
    TW_HANDLE hContainer = capability.hContainer;
    const void* p = hContainer ? m_memory.Lock(hContainer) : nullptr;
    // A block of the DSM's own memory has no size we can ask: then the container's
    // own description of its length is all there is.
    size_t size = TwainMemory::KnownSize(hContainer);
    if (p && size == 0 && m_memory.UsesDsmFunctions())
        size = CapabilityValues::DescribedSize(capability.ConType, p);
    const bool read = p && CapabilityValues::Read(capability.ConType, p, size, values);
    if (p) m_memory.Unlock(hContainer);
    if (hContainer) m_memory.Free(hContainer);
    return read;
}

BOOL CTwain::NegotiateTicket(const ScanTicket& ticket, std::string* sentence) {
    using Input = ScanTicket::Input;
    CapabilityValues back;
    // Where the pages come from.
    if (ticket.input == Input::Feeder || ticket.input == Input::Duplex) {
        if (!SetCapability(m_Source, CAP_FEEDERENABLED, TWTY_BOOL, 1) ||
            (m_nReturnCode == TWRC_CHECKSTATUS &&
             GetCapability(m_Source, CAP_FEEDERENABLED, MSG_GETCURRENT, &back) && !back.current)) {
            *sentence = "the source has no document feeder";
            return FALSE;
        }
    } else if (ticket.input == Input::Flatbed &&
               !SetCapability(m_Source, CAP_FEEDERENABLED, TWTY_BOOL, 0)) {
        // A source that knows no feeder scans from its bed anyway.
        if (m_Status.ConditionCode != TWCC_CAPUNSUPPORTED) {
            *sentence = "the source has no flatbed";
            return FALSE;
        }
    }
    if (ticket.input == Input::Duplex &&
        (!SetCapability(m_Source, CAP_DUPLEXENABLED, TWTY_BOOL, 1) ||
         (m_nReturnCode == TWRC_CHECKSTATUS &&
          GetCapability(m_Source, CAP_DUPLEXENABLED, MSG_GETCURRENT, &back) && !back.current))) {
        *sentence = "the source cannot scan both sides of a page";
        return FALSE;
    }
    // Colour, then the depth that goes with it; a depth the source picks itself is
    // no failure: the pages say what they are.
    if (ticket.color != ScanTicket::Color::Auto) {
        TW_INT16 type = TWPT_RGB;
        TW_UINT32 depth = 24;
        if (ticket.color == ScanTicket::Color::BlackWhite) {
            type = TWPT_BW;
            depth = 1;
        } else if (ticket.color == ScanTicket::Color::Gray) {
            type = TWPT_GRAY;
            depth = 8;
        }
        if (!SetCapability(m_Source, ICAP_PIXELTYPE, TWTY_UINT16, static_cast<TW_UINT16>(type)) ||
            m_nReturnCode == TWRC_CHECKSTATUS) {
            *sentence = std::string("the source cannot scan in ") + ColorWords(ticket.color);
            return FALSE;
        }
        SetCapability(m_Source, ICAP_BITDEPTH, TWTY_UINT16, depth);
    }
    // Resolution: the nearest the source has will do.
    if (ticket.xResolution > 0) {
        if (!SetCapability(m_Source, ICAP_XRESOLUTION, TWTY_FIX32, FixItem(ticket.xResolution)) ||
            !SetCapability(m_Source, ICAP_YRESOLUTION, TWTY_FIX32, FixItem(ticket.yResolution))) {
            std::string dpi = std::to_string(ticket.xResolution);
            if (ticket.yResolution != ticket.xResolution)
                dpi.append("x").append(std::to_string(ticket.yResolution));
            *sentence = "the source cannot scan at " + dpi + " dpi";
            return FALSE;
        }
    }
    if (ticket.hasArea && !SetArea(ticket)) {
        *sentence = "the source cannot scan that area of its bed";
        return FALSE;
    }
    if (!SetImageCount(ticket.pages == 0 ? -1 : ticket.pages)) {
        *sentence = "the source cannot scan " + std::to_string(ticket.pages) + " pages";
        return FALSE;
    }
    return TRUE;
}

BOOL CTwain::SetArea(const ScanTicket& ticket) {
    // Inches, the unit every source knows; a source without the capability has them.
    SetCapability(m_Source, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    TW_IMAGELAYOUT layout{};
    CallDsm(&m_AppId, &m_Source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout);
    const double unit = ScanTicket::kAreaUnitsPerInch;
    layout.Frame.Left = DoubleToFix32(double(ticket.areaLeft) / unit);
    layout.Frame.Top = DoubleToFix32(double(ticket.areaTop) / unit);
    layout.Frame.Right = DoubleToFix32(double(ticket.areaLeft + ticket.areaWidth) / unit);
    layout.Frame.Bottom = DoubleToFix32(double(ticket.areaTop + ticket.areaHeight) / unit);
    return CallDsm(&m_AppId, &m_Source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout) ||
           m_nReturnCode == TWRC_CHECKSTATUS;
}

BOOL CTwain::AcquireTicket(const ScanTicket& ticket, std::string* sentence) {
    if (!IsDsmOpen()) {
        *sentence = "the TWAIN driver is not loaded";
        return FALSE;
    }
    if (IsSourceEnabled()) {
        *sentence = "another acquisition is still running";
        return FALSE;
    }
    // A fresh session: the settings start from the source's own defaults.
    CloseSource();
    if (!ticket.device.empty()) {
        bool found = false;
        for (const TW_IDENTITY& source : ListSources()) {
            if (!SameProduct(source, ticket.device)) continue;
            // The person's choice comes back when this source closes.
            if (!m_selectionBeforeTicket)
                m_selectionBeforeTicket = SavedSelection{m_Source, m_bSourceSelected};
            m_Source = source;
            m_bSourceSelected = TRUE;
            found = true;
            break;
        }
        if (!found) {
            *sentence = "there is no source named '" + ticket.device + "'";
            return FALSE;
        }
    }
    if (!OpenSource(nullptr)) {
        *sentence = "the source could not be opened";
        CloseSource();
        return FALSE;
    }
    if (!NegotiateTicket(ticket, sentence)) {
        CloseSource();
        return FALSE;
    }
    if (!EnableSource(ticket.showUi ? TRUE : FALSE)) {
        *sentence = "the source refused to start the acquisition";
        CloseSource();
        return FALSE;
    }
    return TRUE;
}

void CTwain::ReadAbilities(const TW_IDENTITY& source, SourceAbilities* abilities) {
    CapabilityValues values;
    if (GetCapability(source, CAP_FEEDERENABLED, MSG_GET, &values)) {
        abilities->feeder = true;
        abilities->flatbed = true;  // a feeder the source lets the person turn off
    } else {
        abilities->flatbed = true;
    }
    if (GetCapability(source, CAP_DUPLEX, MSG_GET, &values))
        abilities->duplex = abilities->feeder && values.current != TWDX_NONE;
    if (GetCapability(source, CAP_FEEDERLOADED, MSG_GET, &values))
        abilities->feederLoaded = values.current ? 1 : 0;
    if (GetCapability(source, ICAP_PIXELTYPE, MSG_GET, &values)) {
        for (const TW_UINT32 item : values.items) {
            const int type = static_cast<int>(values.Number(item));
            abilities->blackWhite |= type == TWPT_BW;
            abilities->gray |= type == TWPT_GRAY;
            abilities->rgb |= type == TWPT_RGB;
        }
    }
    if (GetCapability(source, ICAP_XRESOLUTION, MSG_GET, &values)) {
        if (values.isRange) {
            abilities->resolutionRange = true;
            abilities->minResolution = static_cast<int>(std::lround(values.Number(values.min)));
            abilities->maxResolution = static_cast<int>(std::lround(values.Number(values.max)));
            abilities->resolutionStep =
                std::max(1, static_cast<int>(std::lround(values.Number(values.step))));
        } else {
            for (const TW_UINT32 item : values.items)
                abilities->resolutions.push_back(static_cast<int>(std::lround(values.Number(item))));
        }
    }
    CapabilityValues height;
    if (GetCapability(source, ICAP_PHYSICALWIDTH, MSG_GET, &values) &&
        GetCapability(source, ICAP_PHYSICALHEIGHT, MSG_GET, &height)) {
        abilities->hasBed = true;
        abilities->bedWidth = InchesToAreaUnits(values.Number(values.current));
        abilities->bedHeight = InchesToAreaUnits(height.Number(height.current));
    }
}

std::vector<SourceAbilities> CTwain::ListAbilities() {
    std::vector<SourceAbilities> list;
    if (!IsDsmOpen()) return list;
    // A source left open but idle would keep the others from being asked.
    if (IsSourceOpen() && !IsSourceEnabled()) CloseSource();
    const TW_UINT16 code = m_nReturnCode;
    TW_IDENTITY fallback{};
    const bool hasDefault =
        CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &fallback);
    for (const TW_IDENTITY& source : ListSources()) {
        SourceAbilities abilities;
        abilities.name.assign(source.ProductName, strnlen(source.ProductName, sizeof(TW_STR32)));
        abilities.manufacturer.assign(source.Manufacturer,
                                      strnlen(source.Manufacturer, sizeof(TW_STR32)));
        abilities.isDefault = hasDefault && fallback.Id == source.Id;
        if (IsSourceOpen() && m_Source.Id == source.Id) {
            ReadAbilities(m_Source, &abilities);
        } else if (IsSourceOpen()) {
            // The DSM holds one open source for Velomark at a time.
            abilities.error = "the source cannot be asked while another one is open";
        } else {
            TW_IDENTITY opened = source;
            if (CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &opened)) {
                LibraryPins::PinLoadedSince(m_librariesBeforeDsm);
                ReadAbilities(opened, &abilities);
                CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &opened);
            } else {
                abilities.error = "the source could not be opened";
            }
        }
        list.push_back(std::move(abilities));
    }
    m_nReturnCode = code;
    return list;
}
