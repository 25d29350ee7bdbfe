// The program's entry point: the toolkit's start-up runs CScanprobeApp.
#include "app/ScanprobeApp.h"

wxIMPLEMENT_APP(CScanprobeApp);
