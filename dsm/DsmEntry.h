// The one function the DSM library exports. Everything else in the library is
// hidden (-fvisibility=hidden), so sources and programs see only this entry.
#pragma once

#include "twain/TwainTypes.h"

#define VELOMARK_DSM_EXPORT __attribute__((visibility("default")))

extern "C" {
VELOMARK_DSM_EXPORT TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                        TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);
}
