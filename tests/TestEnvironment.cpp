// Linked into every test program: an empty SANE configuration unless the test's
// environment names one, so that a test that lists data sources does not probe the
// machine's scanners (the SANE tests point it at their own configuration).
#include <cstdlib>

namespace {

const bool g_saneConfigured = [] {
    return setenv("SANE_CONFIG_DIR", VELOMARK_SANE_NONE_DIR, 0) == 0;
}();

}  // namespace
