// Identities, notes and other names coming back from a data source library: the
// DSM's catalogue lists a source library that answers from the input, then looks
// sources up the ways an application and the user can name them.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dsm/DsmEntry.h"
#include "dsm/SourceCatalog.h"
#include "fuzz/FuzzInput.h"

namespace {

using FeedProc = void (*)(const uint8_t*, size_t);
FeedProc g_feed = nullptr;

std::string TakeName(FuzzInput& input) {
    size_t n = 0;
    const uint8_t* bytes = input.Bytes(input.Take<uint8_t>() % 40, &n);
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The library stays loaded, so that the catalogue's loads only count references.
    void* source = dlopen(FUZZ_SOURCE_DIR "/fuzz-source.ds", RTLD_NOW);
    if (!source) std::abort();
    g_feed = reinterpret_cast<FeedProc>(dlsym(source, "FuzzSourceFeed"));
    if (!g_feed) std::abort();
    // No remembered default source of the user's.
    const std::string config = "/tmp/velomark-fuzz-dsm-" + std::to_string(getpid());
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const TW_IDENTITY wanted = input.Take<TW_IDENTITY>();
    const std::string name = TakeName(input);
    const std::string longName = TakeName(input);
    const std::string chosen = TakeName(input);
    if (chosen.empty()) unsetenv("VELOMARK_DEFAULT_SOURCE");
    else setenv("VELOMARK_DEFAULT_SOURCE", chosen.c_str(), 1);
    size_t feedBytes = 0;
    const uint8_t* feed = input.Rest(&feedBytes);
    g_feed(feed, feedBytes);

    SourceCatalog catalog;
    TW_UINT32 nextId = 1;
    catalog.Scan({FUZZ_SOURCE_DIR}, [&] { return nextId++; });
    catalog.Find(wanted);
    catalog.FindByName(name.c_str());
    catalog.FindByLongName(longName.c_str());
    catalog.DefaultSource();
    for (size_t i = 0; i < catalog.Count(); ++i)
        catalog.At(i).library->LongName(catalog.At(i).identity);
    catalog.Clear();
    return 0;
}

// The search path finds its built-in folder beside the file holding DSM_Entry;
// this program has no DSM, so the folder it names does not exist.
extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16,
                               TW_MEMREF) {
    return TWRC_FAILURE;
}
