#include "twain/LibraryPins.h"

#include <dlfcn.h>
#include <link.h>

namespace {

int AddName(dl_phdr_info* info, size_t, void* names) {
    if (info->dlpi_name && *info->dlpi_name)
        static_cast<std::set<std::string>*>(names)->insert(info->dlpi_name);
    return 0;
}

}  // namespace

std::set<std::string> LibraryPins::Loaded() {
    std::set<std::string> names;
    dl_iterate_phdr(AddName, &names);
    return names;
}

void LibraryPins::PinLoadedSince(const std::set<std::string>& before) {
    for (const std::string& name : Loaded()) {
        if (before.count(name)) continue;
        // Already loaded: only its flag changes, and the extra reference goes again.
        if (void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE))
            dlclose(handle);
    }
}
