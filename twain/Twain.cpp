// CTwain: manager and source lifecycle. The transfers are in TwainTransfer.cpp.
#include "twain/Twain.h"

#include <cstdlib>
#include <cstring>

#include "twain/DataSource.h"
#include "twain/LibraryPins.h"

CTwain::CTwain(HWND hWnd)
    : m_hDsmLibrary(nullptr),
      m_pDsmEntry(nullptr),
      m_AppId{},
      m_Source{},
      m_Status{},
      m_nReturnCode(TWRC_SUCCESS),
      m_hParentWnd(nullptr),
      m_bSourceSelected(FALSE),
      m_bDsmOpen(FALSE),
      m_bSourceOpen(FALSE),
      m_bSourceEnabled(FALSE),
      m_bModalUI(TRUE),
      m_nImageCount(-1) {
    if (hWnd) InitTwain(hWnd);
}

CTwain::~CTwain() { ReleaseTwain(); }

const char* CTwain::DsmLibraryName() {
    const char* overridePath = std::getenv("VELOMARK_DSM");
    return overridePath && *overridePath ? overridePath : "libvelomark-dsm.so";
}

void CTwain::FillAppIdentity() {
    m_AppId = MakeTwainIdentity(3, 5, "3.5", "QUELM", "Generic", "Scan Probe");
    // A TWAIN 2 DSM then offers its memory functions; a TWAIN 1.x DSM ignores the flag.
    m_AppId.SupportedGroups |= DF_APP2;
}

BOOL CTwain::InitTwain(HWND hWnd) {
    if (IsDsmLoaded()) return TRUE;
    std::memset(&m_AppId, 0, sizeof(m_AppId));
    if (!IsWindow(hWnd)) return FALSE;
    m_hParentWnd = hWnd;

    m_librariesBeforeDsm = LibraryPins::Loaded();
    m_hDsmLibrary = LoadLibraryA(DsmLibraryName());
    if (m_hDsmLibrary) {
        m_pDsmEntry =
            reinterpret_cast<DSMENTRYPROC>(GetProcAddress(m_hDsmLibrary, MAKEINTRESOURCEA(1)));
        if (!m_pDsmEntry) {
            FreeLibrary(m_hDsmLibrary);
            m_hDsmLibrary = nullptr;
        }
    }
    if (!IsDsmLoaded()) return FALSE;

    FillAppIdentity();
    m_bDsmOpen = CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &m_hParentWnd);
    if (m_bDsmOpen) TakeDsmEntryPoint();
    return TRUE;
}

void CTwain::ReleaseTwain() {
    if (!IsDsmLoaded()) return;
    CloseDsm();
    FreeLibrary(m_hDsmLibrary);
    m_hDsmLibrary = nullptr;
    m_pDsmEntry = nullptr;
}

BOOL CTwain::IsDsmLoaded() const { return m_hDsmLibrary && m_pDsmEntry ? TRUE : FALSE; }

BOOL CTwain::IsDsmOpen() const { return IsDsmLoaded() && m_bDsmOpen ? TRUE : FALSE; }

BOOL CTwain::IsSourceOpen() const { return IsDsmOpen() && m_bSourceOpen ? TRUE : FALSE; }

void CTwain::GetDefaultSource() {
    if (!IsDsmLoaded()) {
        m_bSourceSelected = FALSE;
        m_nReturnCode = TWRC_FAILURE;
        return;
    }
    m_bSourceSelected =
        CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &m_Source);
    PreferNamedSource();
}

BOOL CTwain::SelectSource() {
    std::memset(&m_Source, 0, sizeof(m_Source));
    // Fetching the default first lets the dialog open on it, and keeps a source
    // known when the user cancels.
    if (!m_bSourceSelected) GetDefaultSource();
    if (!IsDsmLoaded()) {
        m_nReturnCode = TWRC_FAILURE;
        return m_bSourceSelected;
    }
    if (CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &m_Source)) {
        m_bSourceSelected = TRUE;
        return TRUE;
    }
    // A DSM without a dialog of its own (the standard one on Linux) refuses the request.
    if (m_nReturnCode == TWRC_FAILURE && m_Status.ConditionCode == TWCC_BADPROTOCOL)
        return SelectFromList();
    return m_bSourceSelected;
}

BOOL CTwain::OpenSource(TW_IDENTITY* pSource) {
    if (pSource) m_Source = *pSource;
    if (!m_hDsmLibrary) return FALSE;
    if (m_pDsmEntry && m_bDsmOpen) {
        if (!m_bSourceSelected) GetDefaultSource();
        m_bSourceOpen = CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &m_Source);
        m_bCallbackRegistered = FALSE;
        if (m_bSourceOpen) {
            LibraryPins::PinLoadedSince(m_librariesBeforeDsm);
            RegisterCallback();
        }
    }
    return IsSourceOpen();
}

void CTwain::CloseSource() {
    if (!IsSourceOpen()) return;
    // Asked directly, so that a source that knows no such question leaves the
    // status of the last real call alone.
    TW_VELOMARK_NOTE failure{};
    m_sourceFailure.clear();
    if (m_bSourceEnabled && m_pDsmEntry &&
        m_pDsmEntry(&m_AppId, &m_Source, DG_CONTROL, DAT_VELOMARK_NOTE, MSG_GET, &failure) ==
            TWRC_SUCCESS)
        m_sourceFailure.assign(failure.Text, strnlen(failure.Text, sizeof failure.Text));
    DisableSource();
    CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &m_Source);
    m_bSourceOpen = FALSE;
    // A closed source is not enabled, even when it refused MSG_DISABLEDS: a flag
    // left set would send every message to it and refuse every later Acquire.
    m_bSourceEnabled = FALSE;
    if (m_selectionBeforeTicket) {
        m_Source = m_selectionBeforeTicket->source;
        m_bSourceSelected = m_selectionBeforeTicket->selected;
        m_selectionBeforeTicket.reset();
    }
}

void CTwain::CloseDsm() {
    if (!IsDsmOpen()) return;
    CloseSource();
    CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &m_hParentWnd);
    m_bDsmOpen = FALSE;
    m_memory = TwainMemory();
}

BOOL CTwain::CallDsm(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 dg, TW_UINT16 dat,
                     TW_UINT16 msg, TW_MEMREF pData) {
    if (!IsDsmLoaded()) {
        m_nReturnCode = TWRC_FAILURE;
        return FALSE;
    }
    m_nReturnCode = m_pDsmEntry(pOrigin, pDest, dg, dat, msg, pData);
    if (m_nReturnCode != TWRC_SUCCESS)
        m_pDsmEntry(pOrigin, pDest, DG_CONTROL, DAT_STATUS, MSG_GET, &m_Status);
    return m_nReturnCode == TWRC_SUCCESS ? TRUE : FALSE;
}
