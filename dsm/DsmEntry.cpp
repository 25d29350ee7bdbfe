#include "dsm/DsmEntry.h"

#include "dsm/SourceManager.h"

TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                    TW_UINT16 MSG, TW_MEMREF pData) {
    return SourceManager::Instance().Entry(pOrigin, pDest, DG, DAT, MSG, pData);
}
