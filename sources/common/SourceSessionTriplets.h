// The triplets an application sends to a source's open session, routed to the
// session's handlers. Every source's session derives from it; a failure's condition
// code goes to *condition, which the source keeps for DAT_STATUS.
#pragma once

#include "platform/Window.h"
#include "twain/TwainTypes.h"

class SourceSessionTriplets {
public:
    virtual ~SourceSessionTriplets() = default;

protected:
    // Capabilities, user interface, events and pending transfers (DG_CONTROL); the
    // image layout (DG_IMAGE, any message); the image description and native
    // transfer (DG_IMAGE, MSG_GET); anything else is TWCC_BADPROTOCOL.
    TW_UINT16 Route(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                    TW_UINT16* condition);

    // MSG_PROCESSEVENT for a source that posts kSourceNotifyMessage to `parent` with
    // lParam `selfId`: TWRC_NOTDSEVENT for any other message; for its own, the TWAIN
    // message it still stands for (MSG_XFERREADY while transferReady, MSG_CLOSEDSREQ
    // unless the session is only open), else MSG_NULL: a notification that no longer
    // applies (its pages taken, its batch reset, the source disabled).
    static TW_UINT16 ClaimNotification(TW_EVENT* event, HWND parent, TW_UINT32 selfId,
                                       bool transferReady, bool open, TW_UINT16* condition);

    virtual TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* capability,
                                 TW_UINT16* condition) = 0;
    virtual TW_UINT16 UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui, TW_UINT16* condition) = 0;
    virtual TW_UINT16 ProcessEvent(TW_EVENT* event, TW_UINT16* condition) = 0;
    virtual TW_UINT16 PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending,
                                       TW_UINT16* condition) = 0;
    virtual TW_UINT16 ImageInfo(TW_IMAGEINFO* info, TW_UINT16* condition) = 0;
    virtual TW_UINT16 NativeTransfer(TW_HANDLE* image, TW_UINT16* condition) = 0;
    // DAT_IMAGELAYOUT (MSG_GET, MSG_GETDEFAULT, MSG_SET, MSG_RESET): the area to scan,
    // in inches. A source without areas refuses it (TWCC_BADPROTOCOL).
    virtual TW_UINT16 ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout, TW_UINT16* condition);
};
