// VELOMARK_UNATTENDED=1: the DSM shows no dialog (user-select answers the default
// source) and a source enabled with its user interface scans at once, shows no window
// and asks to be closed after its batch. This is how tests and scripts drive the
// program; the DSM and every source read it here.
#pragma once

#include <cstdlib>
#include <cstring>

inline constexpr char kUnattendedVariable[] = "VELOMARK_UNATTENDED";

// The setting's value as looked up: only "1" means unattended.
inline bool UnattendedValue(const char* value) { return value && std::strcmp(value, "1") == 0; }

// The setting in the process environment, read afresh at each call.
inline bool UnattendedFromEnvironment() {
    return UnattendedValue(std::getenv(kUnattendedVariable));
}
