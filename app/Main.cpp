// The program's entry point: the toolkit's start-up runs CScanprobeApp, or, with
// --headless, the acquisition engine runs without a display.
#include <cstdio>
#include <cstring>

#include "app/HeadlessVelomark.h"
#include "app/ScanprobeApp.h"

wxIMPLEMENT_APP_NO_MAIN(CScanprobeApp);

namespace {

bool IsHeadless(const char* arg) { return std::strcmp(arg, "--headless") == 0; }

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    for (int i = 1; i < argc; ++i) headless = headless || IsHeadless(argv[i]);
    // The desktop program ignores its command line; the headless one knows no option
    // but its own, so a mistyped one is not silently dropped.
    if (!headless) return wxEntry(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (IsHeadless(argv[i])) continue;
        std::fprintf(stderr, "velomark: unknown option '%s'\nusage: velomark [--headless]\n",
                     argv[i]);
        return 2;
    }
    return RunHeadless();
}
