// SANE's test backend loses a block in some of its simulated modes (while a page is
// scanned, so SaneLibrary's exemption for starting and listing does not cover it). The
// SANE test programs link this file; only the test backend's own allocations are named.
extern "C" const char* __lsan_default_suppressions() { return "leak:libsane-test.so\n"; }
