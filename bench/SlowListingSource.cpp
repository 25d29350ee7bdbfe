// A data source library that takes VELOMARK_BENCH_LISTING_MS (default 3000) to list
// its one source, as SANE does when it looks for scanners on the network. It offers
// "Slow Listing" and opens nothing: the benchmark's pages come from the test chart.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "twain/TwainTypes.h"

namespace {

unsigned ListingMilliseconds() {
    const char* value = std::getenv("VELOMARK_BENCH_LISTING_MS");
    return value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : 3000;
}

TW_UINT16 Identity(TW_UINT16 msg, pTW_IDENTITY identity) {
    if (!identity) return TWRC_FAILURE;
    if (msg == MSG_GETNEXT) return TWRC_ENDOFLIST;
    if (msg != MSG_GETFIRST) return TWRC_FAILURE;
    usleep(ListingMilliseconds() * 1000);
    *identity = TW_IDENTITY{};
    identity->ProtocolMajor = 1;
    identity->ProtocolMinor = 9;
    identity->SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(identity->Manufacturer, "Velomark Bench");
    std::strcpy(identity->ProductFamily, "Bench");
    std::strcpy(identity->ProductName, "Slow Listing");
    return TWRC_SUCCESS;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY /*origin*/,
                                                                     TW_UINT32 dg, TW_UINT16 dat,
                                                                     TW_UINT16 msg,
                                                                     TW_MEMREF data) {
    if (dg == DG_CONTROL && dat == DAT_IDENTITY) return Identity(msg, static_cast<pTW_IDENTITY>(data));
    return TWRC_FAILURE;
}
