// Keeps the libraries a DSM loads for a data source in memory for the rest of the
// process. A driver may leave process-wide hooks that point into its code (the
// sample source's FreeImage sets libtiff's tag extender), and its globals may hold
// the only pointers to its allocations: unloaded, the next TIFF anyone opens jumps
// into unmapped code, and the allocations show up as leaks.
#pragma once

#include <set>
#include <string>

class LibraryPins {
public:
    // The file names of the shared objects loaded now.
    static std::set<std::string> Loaded();
    // Pins every shared object loaded now that is not in `before`.
    static void PinLoadedSince(const std::set<std::string>& before);
};
