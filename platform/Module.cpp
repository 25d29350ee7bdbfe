#include "platform/Module.h"

#include <dlfcn.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

struct ModuleRegistry {
    std::mutex mutex;
    std::multiset<void*> handles;  // one entry per LoadLibraryA not yet freed
};

ModuleRegistry& Registry() {
    static ModuleRegistry* registry = new ModuleRegistry;  // outlives static destructors
    return *registry;
}

thread_local std::string t_lastError;

bool IsLoaded(HMODULE module) {
    auto& reg = Registry();
    std::lock_guard lock(reg.mutex);
    return reg.handles.count(module) != 0;
}

// The names behind the ordinals that the program asks for.
const char* SymbolForOrdinal(uintptr_t ordinal) {
    switch (ordinal) {
        case 1: return "DSM_Entry";
        default: return nullptr;
    }
}

// The program's own library folder, <folder of the executable>/../lib/, where
// its RUNPATH points. dlopen applies a RUNPATH only for the object that calls
// it, and with interceptors in between (sanitizers, profilers) that object is
// not ours; so a plain name is tried there first, explicitly.
std::string ProgramLibraryFolder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0) return {};
    std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash) + "/../lib/";
}

void* OpenByName(const char* fileName) {
    if (!std::strchr(fileName, '/')) {
        static const std::string folder = ProgramLibraryFolder();
        if (!folder.empty()) {
            const std::string candidate = folder + fileName;
            if (access(candidate.c_str(), F_OK) == 0)
                if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
        }
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName) {
    if (!fileName || !*fileName) {
        t_lastError = "no library name";
        return nullptr;
    }
    void* handle = OpenByName(fileName);
    if (!handle) {
        const char* err = dlerror();
        t_lastError = err ? err : "cannot load";
        return nullptr;
    }
    t_lastError.clear();
    auto& reg = Registry();
    std::lock_guard lock(reg.mutex);
    reg.handles.insert(handle);
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* nameOrOrdinal) {
    if (!module || !IsLoaded(module)) return nullptr;
    const auto asNumber = reinterpret_cast<uintptr_t>(nameOrOrdinal);
    const char* symbol = asNumber < 0x10000 ? SymbolForOrdinal(asNumber) : nameOrOrdinal;
    if (!symbol) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(module, symbol));
}

BOOL FreeLibrary(HMODULE module) {
    {
        auto& reg = Registry();
        std::lock_guard lock(reg.mutex);
        auto it = reg.handles.find(module);
        if (!module || it == reg.handles.end()) return FALSE;
        reg.handles.erase(it);
    }
    // The same library may be open through another handle; dlclose counts.
    return dlclose(module) == 0 ? TRUE : FALSE;
}

const char* ModuleLoadError() { return t_lastError.c_str(); }
