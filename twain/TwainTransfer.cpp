// CTwain: acquisition, the capability layer for CAP_XFERCOUNT, the event filter
// and the native transfer loop.
#include <cstring>

#include "twain/Twain.h"

namespace {

// The one-value container's bytes are a TW_ONEVALUE: 2-byte packing, little-endian.
constexpr size_t kOneValueSize = sizeof(TW_ONEVALUE);

}  // namespace

BOOL CTwain::Acquire(int nImageCount) {
    if (!IsSourceOpen() && !OpenSource(nullptr)) return FALSE;
    if (!SetImageCount(nImageCount)) return FALSE;
    if (!EnableSource(SourceUiWanted() ? TRUE : FALSE)) return FALSE;
    return TRUE;
}

BOOL CTwain::SetImageCount(int nImageCount) {
    const auto low16 = static_cast<TW_UINT16>(nImageCount);
    if (SetCapabilityOneValue(CAP_XFERCOUNT, low16, TRUE)) {
        m_nImageCount = static_cast<TW_INT16>(low16);
        return TRUE;
    }
    // TWRC_CHECKSTATUS: the source took another count; take it as it stands.
    if (m_nReturnCode == TWRC_CHECKSTATUS) {
        TW_UINT32 value = 0;
        if (GetCapabilityOneValue(CAP_XFERCOUNT, &value)) {
            const auto taken = static_cast<TW_UINT16>(value);
            if (SetCapabilityOneValue(CAP_XFERCOUNT, taken, FALSE)) {
                m_nImageCount = static_cast<TW_INT16>(taken);
                return TRUE;
            }
        }
    }
    return FALSE;
}

BOOL CTwain::SetCapabilityOneValue(TW_UINT16 cap, TW_UINT16 value, BOOL bSigned) {
    if (!IsSourceOpen()) return FALSE;
    return SetCapability(m_Source, cap, bSigned ? TWTY_INT16 : TWTY_UINT16, value) &&
           m_nReturnCode == TWRC_SUCCESS;
}

BOOL CTwain::GetCapabilityOneValue(TW_UINT16 cap, TW_UINT32* pValue) {
    if (!IsSourceOpen()) return FALSE;
    TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
    if (!CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability))
        return FALSE;
    TW_HANDLE hContainer = capability.hContainer;
    // The value sits at byte 2 whatever container the source chose; a block too
    // short to hold it is not read. A DSM's own memory has no size: then only a
    // one-value container, whose size its type gives, is read.
    const size_t known = TwainMemory::KnownSize(hContainer);
    const bool readable = known != 0 ? known >= kOneValueSize
                                     : hContainer && m_memory.UsesDsmFunctions() &&
                                           capability.ConType == TWON_ONEVALUE;
    if (!readable) {
        m_memory.Free(hContainer);
        return FALSE;
    }
    const void* p = m_memory.Lock(hContainer);
    if (!p) {
        m_memory.Free(hContainer);
        return FALSE;
    }
    TW_ONEVALUE one;
    std::memcpy(&one, p, kOneValueSize);
    *pValue = one.Item;
    m_memory.Unlock(hContainer);
    m_memory.Free(hContainer);
    return TRUE;
}

BOOL CTwain::EnableSource(BOOL bShowUI) {
    if (!IsSourceOpen() || m_bSourceEnabled) return FALSE;
    TW_USERINTERFACE ui{};
    ui.ShowUI = static_cast<TW_BOOL>(bShowUI);
    ui.hParent = m_hParentWnd;
    if (CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui)) {
        m_bSourceEnabled = TRUE;
        m_bModalUI = ui.ModalUI;
        m_bEnabledWithoutUI = bShowUI ? FALSE : TRUE;
        return TRUE;
    }
    m_bSourceEnabled = FALSE;
    m_bModalUI = TRUE;
    return FALSE;
}

BOOL CTwain::DisableSource() {
    if (!m_bSourceEnabled) return FALSE;
    TW_USERINTERFACE ui{};
    ui.hParent = m_hParentWnd;
    if (CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui)) {
        m_bSourceEnabled = FALSE;
        return TRUE;
    }
    return FALSE;
}

void CTwain::FilterMessage(MSG msg) {
    if (!m_bSourceEnabled) return;
    // The callback's post carries the source's message itself; one of an earlier
    // source is stale.
    if (msg.message == kDsmCallbackMessage) {
        if (msg.hwnd == m_hParentWnd && static_cast<TW_UINT32>(msg.lParam) == m_Source.Id)
            HandleSourceMessage(static_cast<TW_UINT16>(msg.wParam));
        return;
    }
    TW_EVENT event{&msg, MSG_NULL};
    CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    if (m_nReturnCode == TWRC_NOTDSEVENT) return;
    HandleSourceMessage(event.TWMessage);
}

void CTwain::HandleSourceMessage(TW_UINT16 message) {
    switch (message) {
        case MSG_XFERREADY: TransferImages(); break;
        case MSG_CLOSEDSREQ:
            if (CanCloseSource()) CloseSource();
            break;
        default: break;
    }
}

void CTwain::TransferImages() {
    m_nBatchPage = 1;
    m_nBatchPending = m_nImageCount;
    BOOL bMore = TRUE;
    int unansweredRounds = 0;
    while (bMore && m_bSourceEnabled) {
        TW_IMAGEINFO info{};
        TransferVerdict verdict = VerdictTransfer;
        const bool described = GetImageInfo(&info);
        if (described) verdict = ApproveTransfer(info);
        if (!described ||
            (verdict != VerdictTransfer && verdict != VerdictSkip && verdict != VerdictCancelAll)) {
            // The same pending image is asked about again, but not for ever: a
            // source that cannot describe it would hold the program in this loop.
            if (++unansweredRounds >= kImageInfoAttempts) {
                CancelTransfers();
                break;
            }
            continue;
        }
        unansweredRounds = 0;
        if (verdict == VerdictTransfer) {
            bMore = TransferNative(info);
        } else if (verdict == VerdictSkip) {
            bMore = EndTransfer();
        } else {
            CancelTransfers();
            break;
        }
    }
    // Without its window a source asks for no close: the batch's end is the session's.
    if (m_bEnabledWithoutUI && m_bSourceEnabled) CloseSource();
}

BOOL CTwain::GetImageInfo(TW_IMAGEINFO* pInfo) {
    return CallDsm(&m_AppId, &m_Source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, pInfo);
}

BOOL CTwain::TransferNative(const TW_IMAGEINFO& info) {
    TW_HANDLE hNative = nullptr;
    CallDsm(&m_AppId, &m_Source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &hNative);
    if (m_nReturnCode == TWRC_FAILURE) {
        CancelTransfers();
        return FALSE;
    }
    // A source that reports a finished transfer without an image hands nothing on.
    if (m_nReturnCode == TWRC_XFERDONE && hNative) {
        TW_IMAGEINFO taken = info;
        bool sameHandle = false;
        HGLOBAL hImage = TakeNativeImage(hNative, &taken, &sameHandle);
        if (hImage) ReceiveImage(hImage, taken);
        if (!sameHandle) GlobalFree(hImage);
    }
    m_memory.Free(hNative);
    return EndTransfer();
}

BOOL CTwain::EndTransfer() {
    TW_PENDINGXFERS pending{};
    if (!CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending))
        return FALSE;
    ++m_nBatchPage;
    // The count is 0xFFFF (-1) when the source does not know it, a feeder say.
    m_nBatchPending = static_cast<TW_INT16>(pending.Count);
    return pending.Count != 0 ? TRUE : FALSE;
}

int CTwain::BatchSize() const {
    return m_nBatchPending >= 0 ? m_nBatchPage - 1 + m_nBatchPending : -1;
}

void CTwain::CancelTransfers() {
    TW_PENDINGXFERS pending{};
    CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
}

TransferVerdict CTwain::ApproveTransfer(const TW_IMAGEINFO&) { return VerdictTransfer; }

BOOL CTwain::CanCloseSource() { return TRUE; }
