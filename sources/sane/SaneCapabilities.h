// Capability negotiation for a SANE source, and the image layout. CAP_XFERCOUNT
// (TWTY_INT16, -1 for every page the feeder holds) is the source's own; the rest map
// onto the device's standard options (SaneStandardOptions):
//
//   CAP_FEEDERENABLED, CAP_DUPLEXENABLED  TWTY_BOOL     the source option
//   CAP_FEEDERLOADED                      TWTY_BOOL     the page-loaded sensor; read only
//   CAP_DUPLEX                            TWTY_UINT16   TWDX_1PASSDUPLEX when a source
//                                                       is duplex, else TWDX_NONE; read only
//   ICAP_PIXELTYPE                        TWTY_UINT16   mode (and depth 1 for grey BW)
//   ICAP_BITDEPTH                         TWTY_UINT16   1, 8 or 24 as the type gives it
//   ICAP_XRESOLUTION, ICAP_YRESOLUTION    TWTY_FIX32    resolution, x-/y-resolution
//   ICAP_PHYSICALWIDTH, _HEIGHT           TWTY_FIX32    br-x, br-y maxima; read only
//   ICAP_UNITS                            TWTY_UINT16   TWUN_INCHES only
//   DAT_IMAGELAYOUT                       TW_FRAME      tl-x, tl-y, br-x, br-y
//
// MSG_GET lists what the device offers (TWON_ENUMERATION for pixel types and word-list
// resolutions, TWON_RANGE for range resolutions, else TWON_ONEVALUE), MSG_GETCURRENT
// what it holds. The device's own defaults are unknown: MSG_GETDEFAULT and MSG_RESET of
// a device's option are TWCC_CAPBADOPERATION, and a container's default is the current
// value. A capability with no option behind it is TWCC_CAPUNSUPPORTED, a value the
// device cannot take TWCC_BADVALUE, a value taken as the nearest one it holds
// TWRC_CHECKSTATUS (with TWCC_BADVALUE for DAT_STATUS, as for the transfer count).
#pragma once

#include "sources/sane/SaneStandardOptions.h"
#include "twain/TwainTypes.h"

class SaneCapabilities {
public:
    // The largest page count a batch can be asked for.
    static constexpr int kMaxTransferCount = 0x7fff;

    // What a triplet may do now: set only while the source is open (else TWCC_SEQERROR);
    // touch the device only while no batch reads from it (else TWCC_SEQERROR).
    struct Access {
        bool setAllowed = true;
        bool deviceFree = true;
    };

    SaneCapabilities(SaneDevice& device, SaneSettings& settings) : m_options(device, settings) {}

    // DG_CONTROL / DAT_CAPABILITY / msg. MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT and
    // MSG_RESET store a new container that the application frees; MSG_SET reads the
    // application's one-value container.
    TW_UINT16 Handle(TW_UINT16 msg, TW_CAPABILITY* cap, Access access, TW_UINT16* condition);
    // DG_IMAGE / DAT_IMAGELAYOUT / msg: MSG_GET, MSG_GETDEFAULT (the whole area),
    // MSG_SET and MSG_RESET (to the whole area).
    TW_UINT16 Layout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, Access access, TW_UINT16* condition);

    // -1 (every page) or a count from 1.
    int TransferCount() const { return m_transferCount; }

private:
    using Axis = SaneStandardOptions::Axis;

    bool Supported(TW_UINT16 cap) const;
    TW_UINT16 UnitsCap(TW_UINT16 msg, TW_CAPABILITY* cap, TW_UINT16* condition);
    TW_UINT16 TransferCountCap(TW_UINT16 msg, TW_CAPABILITY* cap, TW_UINT16* condition);
    TW_UINT16 SetTransferCount(TW_CAPABILITY* cap, TW_UINT16* condition);
    TW_UINT16 Get(TW_UINT16 msg, TW_CAPABILITY* cap, TW_UINT16* condition);
    TW_UINT16 Set(TW_CAPABILITY* cap, TW_UINT16* condition);
    TW_UINT16 Resolutions(TW_CAPABILITY* cap, bool current, TW_UINT16* condition);

    SaneStandardOptions m_options;
    int m_transferCount = -1;
};
