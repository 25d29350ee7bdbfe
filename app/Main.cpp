// The program's entry point: the toolkit's start-up runs CScanprobeApp, or, with
// --headless, the acquisition engine runs without a display.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/HeadlessVelomark.h"
#include "app/ScanprobeApp.h"

wxIMPLEMENT_APP_NO_MAIN(CScanprobeApp);

namespace {

bool IsHeadless(const char* arg) { return std::strcmp(arg, "--headless") == 0; }

int Usage(const std::string& complaint) {
    std::fprintf(stderr,
                 "velomark: %s\nusage: velomark [--headless] [--share[=ADDRESS:PORT]] "
                 "[--allow-origin=ORIGIN]...\n",
                 complaint.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    for (int i = 1; i < argc; ++i) headless = headless || IsHeadless(argv[i]);
    // The desktop program reads its own options (CScanprobeApp); the headless one
    // knows these only, so a mistyped one is not silently dropped.
    if (!headless) return wxEntry(argc, argv);
    HeadlessOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string error;
        if (IsHeadless(argv[i])) continue;
        if (arg == "--share") {
            options.share = velomark::ShareAddress::Loopback();
        } else if (arg.rfind("--share=", 0) == 0) {
            velomark::ShareAddress address;
            if (!velomark::ShareAddress::Parse(arg.substr(8), &address, &error)) return Usage(error);
            options.share = address;
        } else if (arg.rfind("--allow-origin=", 0) == 0 && arg.size() > 15) {
            options.allowedOrigins.push_back(arg.substr(15));
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }
    return RunHeadless(options);
}
