// The program's entry point: the toolkit's start-up runs CScanprobeApp, or, with
// --headless, the acquisition engine runs without a display.
#include <cstring>

#include "app/HeadlessVelomark.h"
#include "app/ScanprobeApp.h"

wxIMPLEMENT_APP_NO_MAIN(CScanprobeApp);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0) return RunHeadless();
    return wxEntry(argc, argv);
}
