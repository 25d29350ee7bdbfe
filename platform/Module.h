// Module loading over dlopen. ELF has no export ordinals, so a small table maps
// the ordinals the program asks for to symbol names: entry 1 is DSM_Entry.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

struct LoadedModule;
typedef LoadedModule* HMODULE;
typedef void (*FARPROC)();

// An ordinal passed where a name is expected, as the Windows macro makes it.
inline const char* MAKEINTRESOURCEA(WORD ordinal) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(ordinal));
}

extern "C" {
// Loads a shared library by path, or by file name: first from the program's
// library folder (<executable's folder>/../lib), then by the system's search
// order. Null when it cannot be loaded.
HMODULE LoadLibraryA(const char* fileName);
// The address of an exported symbol, by name or by ordinal; null when absent.
FARPROC GetProcAddress(HMODULE module, const char* nameOrOrdinal);
// Unloads the library; FALSE for a null or unknown handle.
BOOL FreeLibrary(HMODULE module);
// The loader's text for the last failed LoadLibraryA in this thread, or "".
const char* ModuleLoadError();
}
