// CTwain: the application side of the TWAIN protocol. Loads and opens the Data
// Source Manager, selects, opens, enables and closes one source, filters the
// message stream for the source's notifications and runs the native transfers.
// The main frame derives from it and receives each image through ReceiveImage.
#pragma once

#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "platform/Window.h"
#include "twain/TwainTypes.h"

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

    // Manager and source lifecycle.
    BOOL InitTwain(HWND hWnd);
    void ReleaseTwain();
    BOOL IsDsmLoaded() const;
    BOOL IsDsmOpen() const;
    BOOL IsSourceOpen() const;
    // An acquisition runs: the source is enabled and has not been closed yet.
    BOOL IsSourceEnabled() const { return m_bSourceEnabled; }
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

protected:
    // Where the batch that TransferImages takes stands, for ReceiveImage: the pending
    // image being transferred (1 for the batch's first) and the batch's size, -1 when
    // unknown. The size is the count asked with CAP_XFERCOUNT until the first
    // MSG_ENDXFER, then what the source reports pending after each.
    int BatchPage() const { return m_nBatchPage; }
    int BatchSize() const;

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
};
