// CTwain: the application side of the TWAIN protocol. Loads and opens the Data
// Source Manager, selects, opens, enables and closes one source, filters the
// message stream for the source's notifications and runs the native transfers.
// The engine holds one (EngineTwain) and receives each image through ReceiveImage.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "platform/Window.h"
#include "twain/TwainMemory.h"
#include "twain/TwainTypes.h"

struct CapabilityValues;
struct ScanTicket;
struct SourceAbilities;

// What the DAT_CALLBACK2 callback posts to the window given at MSG_OPENDSM: wParam
// the source's message (MSG_XFERREADY, MSG_CLOSEDSREQ), lParam the source's Id.
constexpr UINT kDsmCallbackMessage = WM_APP + 0x0702;

// What ApproveTransfer decides for the next pending image.
enum TransferVerdict {
    VerdictTransfer = 0,   // transfer it natively
    VerdictSkip = 1,       // end its transfer without taking it
    VerdictCancelAll = 2,  // discard it and every further pending image
};

class CTwain {
public:
    explicit CTwain(HWND hWnd = nullptr);
    virtual ~CTwain();
    CTwain(const CTwain&) = delete;
    CTwain& operator=(const CTwain&) = delete;

    // Slots 1 to 7 after the destructor, in this order.
    virtual void FillAppIdentity();
    virtual BOOL SelectSource();
    virtual BOOL OpenSource(TW_IDENTITY* pSource = nullptr);
    virtual TransferVerdict ApproveTransfer(const TW_IMAGEINFO& info);
    virtual BOOL DisableSource();
    virtual BOOL CanCloseSource();
    // The image callback: hImage is a packed DIB that CTwain frees when this returns.
    virtual void ReceiveImage(HGLOBAL hImage, const TW_IMAGEINFO& info) = 0;
    // Chooses among `sources` when the DSM has no selection dialog of its own (it
    // refuses MSG_USERSELECT): the chosen index, or nothing when cancelled. This one
    // takes `preselected`; a program with a user interface shows a list.
    virtual std::optional<size_t> ChooseSource(const std::vector<TW_IDENTITY>& sources,
                                               size_t preselected);

    // Manager and source lifecycle.
    BOOL InitTwain(HWND hWnd);
    void ReleaseTwain();
    BOOL IsDsmLoaded() const;
    BOOL IsDsmOpen() const;
    BOOL IsSourceOpen() const;
    // An acquisition runs: the source is enabled and has not been closed yet.
    BOOL IsSourceEnabled() const { return m_bSourceEnabled; }
    // An enabled source that can tell its MSG_XFERREADY and MSG_CLOSEDSREQ only as
    // answers to MSG_PROCESSEVENT (a TWAIN 1.x manager: no callback registered): the
    // program offers FilterMessage its events, at least on every outermost event and
    // every heartbeat. Sources that call back post to the window, and only those
    // posted messages need the filter.
    BOOL NeedsEveryEvent() const { return m_bSourceEnabled && !m_bCallbackRegistered; }
    void GetDefaultSource();
    void CloseSource();
    void CloseDsm();
    BOOL CallDsm(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 dg, TW_UINT16 dat,
                 TW_UINT16 msg, TW_MEMREF pData);

    // Acquisition and transfer.
    BOOL Acquire(int nImageCount);
    BOOL SetImageCount(int nImageCount);
    BOOL SetCapabilityOneValue(TW_UINT16 cap, TW_UINT16 value, BOOL bSigned);
    BOOL GetCapabilityOneValue(TW_UINT16 cap, TW_UINT32* pValue);
    BOOL EnableSource(BOOL bShowUI);
    void FilterMessage(MSG msg);
    void TransferImages();
    BOOL GetImageInfo(TW_IMAGEINFO* pInfo);
    BOOL TransferNative(const TW_IMAGEINFO& info);
    BOOL EndTransfer();
    void CancelTransfers();

    // Consecutive rounds that ask about one pending image without moving it on
    // (a failed DAT_IMAGEINFO, a verdict the loop does not know) before the
    // pending images are discarded with MSG_RESET.
    static constexpr int kImageInfoAttempts = 3;

    // The library that InitTwain loads: VELOMARK_DSM when set, else the DSM
    // library by name through the system's search order.
    static const char* DsmLibraryName();
    // VELOMARK_SOURCE_UI=0 enables sources without their window (ShowUI FALSE).
    static bool SourceUiWanted();
    // Every source the DSM lists (MSG_GETFIRST, MSG_GETNEXT).
    std::vector<TW_IDENTITY> ListSources();

    // Scanning with a ticket (TwainTicket.cpp): opens the ticket's source (the
    // default when it names none) afresh, negotiates its settings in state 4 and
    // enables it. False with a sentence naming what the source cannot do; the
    // source is closed again then. A source the ticket chose gives way to the
    // person's own choice when it closes.
    BOOL AcquireTicket(const ScanTicket& ticket, std::string* sentence);
    BOOL NegotiateTicket(const ScanTicket& ticket, std::string* sentence);
    // What every listed source can do. A source that is not open is opened for the
    // question and closed again; while one is open, the others cannot be asked.
    std::vector<SourceAbilities> ListAbilities();
    void ReadAbilities(const TW_IDENTITY& source, SourceAbilities* abilities);
    // One capability of `source` as a one-value container (TWRC_CHECKSTATUS counts as
    // set: m_nReturnCode tells), and any capability's container read back.
    BOOL SetCapability(const TW_IDENTITY& source, TW_UINT16 cap, TW_UINT16 itemType,
                       TW_UINT32 item);
    BOOL GetCapability(const TW_IDENTITY& source, TW_UINT16 cap, TW_UINT16 msg,
                       CapabilityValues* values);
    // The sentence on which the last source's batch failed, asked of it as it closed
    // (DAT_VELOMARK_NOTE); "" when it did not fail or cannot say. Emptied by taking.
    std::string TakeSourceFailure() { return std::exchange(m_sourceFailure, std::string()); }

protected:
    // Where the batch that TransferImages takes stands, for ReceiveImage: the pending
    // image being transferred (1 for the batch's first) and the batch's size, -1 when
    // unknown. The size is the count asked with CAP_XFERCOUNT until the first
    // MSG_ENDXFER, then what the source reports pending after each.
    int BatchPage() const { return m_nBatchPage; }
    int BatchSize() const;

    // TWAIN 2 (TwainVersion2.cpp): the DSM's entry point after MSG_OPENDSM, the
    // callback after MSG_OPENDS, the own selection list, the default by name.
    void TakeDsmEntryPoint();
    void RegisterCallback();
    BOOL SelectFromList();
    void PreferNamedSource();
    void HandleSourceMessage(TW_UINT16 message);
    // The native image as a packed DIB in a global block (an empty one when refused).
    HGLOBAL TakeNativeImage(TW_HANDLE hNative, TW_IMAGEINFO* info, bool* sameHandle);

    HMODULE m_hDsmLibrary;
    DSMENTRYPROC m_pDsmEntry;
    TW_IDENTITY m_AppId;
    TW_IDENTITY m_Source;
    TW_STATUS m_Status;
    TW_UINT16 m_nReturnCode;
    HWND m_hParentWnd;
    BOOL m_bSourceSelected;
    BOOL m_bDsmOpen;
    BOOL m_bSourceOpen;
    BOOL m_bSourceEnabled;
    BOOL m_bModalUI;
    TW_INT32 m_nImageCount;
    int m_nBatchPage = 0;
    // Pending images the batch had before the current one ended, -1 when unknown.
    int m_nBatchPending = -1;
    // Containers and native images go through the DSM's memory functions when it has them.
    TwainMemory m_memory;
    // The source was enabled without its window: it sends no MSG_CLOSEDSREQ.
    BOOL m_bEnabledWithoutUI = FALSE;
    // DAT_CALLBACK2 was accepted for the open source.
    BOOL m_bCallbackRegistered = FALSE;
    // The selection a ticket's own source stands in for, until that source closes.
    struct SavedSelection {
        TW_IDENTITY source;
        BOOL selected;
    };
    std::optional<SavedSelection> m_selectionBeforeTicket;

private:
    BOOL SetArea(const ScanTicket& ticket);
    std::string m_sourceFailure;
    // The shared objects loaded before the DSM: whatever came after stays once a
    // source opened (LibraryPins).
    std::set<std::string> m_librariesBeforeDsm;
};
