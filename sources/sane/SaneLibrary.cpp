#include "sources/sane/SaneLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

// LeakSanitizer's switches, present only in a sanitizer build.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));

namespace {

// SANE's backends keep some of what they allocate while starting and listing for as
// long as the process runs, and some lose it; neither is this program's to free. In a
// sanitizer build those allocations are left out of the leak check.
class SaneAllocationsIgnored {
public:
    SaneAllocationsIgnored() {
        if (__lsan_disable) __lsan_disable();
    }
    ~SaneAllocationsIgnored() {
        if (__lsan_enable) __lsan_enable();
    }
    SaneAllocationsIgnored(const SaneAllocationsIgnored&) = delete;
    SaneAllocationsIgnored& operator=(const SaneAllocationsIgnored&) = delete;
};

template <typename Function>
bool Resolve(void* module, const char* name, Function* target) {
    *target = reinterpret_cast<Function>(dlsym(module, name));
    return *target != nullptr;
}

std::string TextOrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

std::string SaneLibrary::FileFromEnvironment() {
    const char* file = std::getenv("VELOMARK_SANE_LIBRARY");
    return file && *file ? file : kDefaultFile;
}

const SaneLibrary* SaneLibrary::Shared(const std::string& file, std::string* whyNot) {
    static std::mutex mutex;
    static std::map<std::string, const SaneLibrary*>* started =
        new std::map<std::string, const SaneLibrary*>;  // lives as long as SANE does
    std::lock_guard lock(mutex);
    const auto found = started->find(file);
    if (found != started->end()) return found->second;
    const SaneLibrary* library = Load(file, whyNot);
    if (library) started->emplace(file, library);
    return library;
}

const SaneLibrary* SaneLibrary::Load(const std::string& file, std::string* whyNot) {
    // Never unloaded: SANE runs until the process ends.
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module) {
        const char* error = dlerror();
        *whyNot = "SANE is not installed (" + (error ? std::string(error) : file) + ")";
        return nullptr;
    }
    std::unique_ptr<SaneLibrary> library(new SaneLibrary());
    SaneApi& api = library->m_api;
    const bool complete =
        Resolve(module, "sane_init", &api.init) &&
        Resolve(module, "sane_get_devices", &api.get_devices) &&
        Resolve(module, "sane_open", &api.open) && Resolve(module, "sane_close", &api.close) &&
        Resolve(module, "sane_get_option_descriptor", &api.get_option_descriptor) &&
        Resolve(module, "sane_control_option", &api.control_option) &&
        Resolve(module, "sane_get_parameters", &api.get_parameters) &&
        Resolve(module, "sane_start", &api.start) && Resolve(module, "sane_read", &api.read) &&
        Resolve(module, "sane_cancel", &api.cancel) &&
        Resolve(module, "sane_strstatus", &api.strstatus);
    if (!complete) {
        *whyNot = file + " is not a SANE library: it lacks sane_* functions";
        dlclose(module);
        return nullptr;
    }
    SANE_Int version = 0;
    SANE_Status status;
    {
        SaneAllocationsIgnored ignored;
        status = api.init(&version, nullptr);
    }
    if (status != SANE_STATUS_GOOD) {
        *whyNot = "SANE did not start: " + api.StatusText(status);
        return nullptr;
    }
    return library.release();
}

bool SaneLibrary::ListDevices(std::vector<SaneDeviceInfo>* devices, std::string* error) const {
    devices->clear();
    const SANE_Device** list = nullptr;
    SANE_Status status;
    {
        SaneAllocationsIgnored ignored;
        status = m_api.get_devices(&list, 0);
    }
    if (status != SANE_STATUS_GOOD) {
        *error = "SANE cannot list its devices: " + m_api.StatusText(status);
        return false;
    }
    for (size_t i = 0; list && list[i]; ++i) {
        const SANE_Device& device = *list[i];
        if (!device.name || !*device.name) continue;
        devices->push_back({device.name, TextOrEmpty(device.vendor), TextOrEmpty(device.model),
                            TextOrEmpty(device.type)});
    }
    return true;
}
