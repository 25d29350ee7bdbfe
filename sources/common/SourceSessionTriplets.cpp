#include "sources/common/SourceSessionTriplets.h"

#include "sources/common/SourceConditions.h"
#include "twain/DataSource.h"

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
    } else if (dg == DG_IMAGE && dat == DAT_IMAGELAYOUT) {
        if (!data) return FailWith(condition, TWCC_BADVALUE);
        return ImageLayout(msg, static_cast<TW_IMAGELAYOUT*>(data), condition);
    } else if (dg == DG_IMAGE && msg == MSG_GET) {
        if (dat == DAT_IMAGEINFO) return ImageInfo(static_cast<TW_IMAGEINFO*>(data), condition);
        if (dat == DAT_IMAGENATIVEXFER)
            return NativeTransfer(static_cast<TW_HANDLE*>(data), condition);
    }
    return FailWith(condition, TWCC_BADPROTOCOL);
}

TW_UINT16 SourceSessionTriplets::ImageLayout(TW_UINT16, TW_IMAGELAYOUT*, TW_UINT16* condition) {
    return FailWith(condition, TWCC_BADPROTOCOL);
}

TW_UINT16 SourceSessionTriplets::ClaimNotification(TW_EVENT* event, HWND parent, TW_UINT32 selfId,
                                                   bool transferReady, bool open,
                                                   TW_UINT16* condition) {
    if (!event) return FailWith(condition, TWCC_BADVALUE);
    event->TWMessage = MSG_NULL;
    const MSG* msg = static_cast<const MSG*>(event->pEvent);
    if (!msg || !parent || msg->message != kSourceNotifyMessage || msg->hwnd != parent ||
        msg->lParam != static_cast<LPARAM>(selfId))
        return TWRC_NOTDSEVENT;
    if (msg->wParam == MSG_XFERREADY && transferReady)
        event->TWMessage = MSG_XFERREADY;
    else if (msg->wParam == MSG_CLOSEDSREQ && !open)
        event->TWMessage = MSG_CLOSEDSREQ;
    return TWRC_DSEVENT;
}
