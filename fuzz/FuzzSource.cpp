// A data source library whose every answer comes from a fuzzer's input: the return
// code and the bytes of whatever structure the caller passed. The fuzz target
// loads it and hands it the input through FuzzSourceFeed before the DSM asks.
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzInput.h"
#include "twain/DataSource.h"

namespace {

FuzzInput g_feed(nullptr, 0);

size_t AnswerSize(TW_UINT16 dat) {
    switch (dat) {
        case DAT_IDENTITY: return sizeof(TW_IDENTITY);
        case DAT_VELOMARK_NOTE: return sizeof(TW_VELOMARK_NOTE);
        case DAT_VELOMARK_LONGNAME: return sizeof(TW_VELOMARK_LONGNAME);
        default: return 0;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void FuzzSourceFeed(const uint8_t* data,
                                                                      size_t size) {
    g_feed = FuzzInput(data, size);
}

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY, TW_UINT32,
                                                                     TW_UINT16 DAT, TW_UINT16,
                                                                     TW_MEMREF pData) {
    // Past the input's end every call fails, so that listing ends.
    if (g_feed.Left() == 0) return TWRC_FAILURE;
    const TW_UINT16 rc = g_feed.Take<uint8_t>() % 8;
    const size_t wanted = AnswerSize(DAT);
    if (pData && wanted > 0) {
        // How much of the structure the source writes; the rest stays as the DSM set it.
        size_t n = 0;
        const uint8_t* bytes = g_feed.Bytes(g_feed.Take<uint16_t>() % (wanted + 1), &n);
        std::memcpy(pData, bytes, n);
    }
    return rc;
}
