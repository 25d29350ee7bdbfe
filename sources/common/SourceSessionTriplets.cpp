#include "sources/common/SourceSessionTriplets.h"

#include "sources/common/SourceConditions.h"

TW_UINT16 SourceSessionTriplets::Route(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                                       TW_UINT16* condition) {
    if (dg == DG_CONTROL) {
        switch (dat) {
            case DAT_CAPABILITY:
                return Capability(msg, static_cast<TW_CAPABILITY*>(data), condition);
            case DAT_USERINTERFACE:
                return UserInterface(msg, static_cast<TW_USERINTERFACE*>(data), condition);
            case DAT_EVENT:
                if (msg == MSG_PROCESSEVENT)
                    return ProcessEvent(static_cast<TW_EVENT*>(data), condition);
                break;
            case DAT_PENDINGXFERS:
                return PendingTransfers(msg, static_cast<TW_PENDINGXFERS*>(data), condition);
            default: break;
        }
    } else if (dg == DG_IMAGE && msg == MSG_GET) {
        if (dat == DAT_IMAGEINFO) return ImageInfo(static_cast<TW_IMAGEINFO*>(data), condition);
        if (dat == DAT_IMAGENATIVEXFER)
            return NativeTransfer(static_cast<TW_HANDLE*>(data), condition);
    }
    return FailWith(condition, TWCC_BADPROTOCOL);
}
