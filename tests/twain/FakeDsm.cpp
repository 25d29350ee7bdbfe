// A stand-in Data Source Manager for tests, loaded through VELOMARK_DSM. Every
// call goes to the handler that the test installed; without one it fails.
#include "twain/TwainTypes.h"

typedef TW_UINT16 (*FakeDsmHandler)(void* context, pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                                    TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

namespace {
FakeDsmHandler g_handler = nullptr;
void* g_context = nullptr;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) void FakeDsm_SetHandler(FakeDsmHandler handler,
                                                               void* context) {
    g_handler = handler;
    g_context = context;
}

#ifndef FAKE_DSM_WITHOUT_ENTRY
__attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                                                           TW_UINT32 DG, TW_UINT16 DAT,
                                                           TW_UINT16 MSG, TW_MEMREF pData) {
    if (!g_handler) return TWRC_FAILURE;
    return g_handler(g_context, pOrigin, pDest, DG, DAT, MSG, pData);
}
#endif
}
