// libsane loaded at run time: its entry points and the devices SANE offers. SANE is
// started (sane_init) once per process, at the first use, and left running until the
// process ends, without sane_exit: sane_exit unloads SANE's backends, and several keep
// allocations in their statics that each unload loses (a leak in every program that
// lists sources twice, and LeakSanitizer's failure in every test that loads the DSM).
// libsane stays mapped too, so the configuration folder (SANE_CONFIG_DIR) it read
// first is the one it keeps.
#pragma once

#include <string>
#include <vector>

#include "sources/sane/SaneApi.h"

struct SaneDeviceInfo {
    std::string name;  // SANE's device name, e.g. "test:0" or "net:host:test:0"
    std::string vendor;
    std::string model;
    std::string type;
};

class SaneLibrary {
public:
    // The library loaded when VELOMARK_SANE_LIBRARY names none.
    static constexpr const char* kDefaultFile = "libsane.so.1";

    // The library at `file` (a path or a file name for the system's search order) with
    // SANE started: loaded and started at the first call for that file, the same object
    // afterwards. Null, with the reason in *whyNot, when either fails; a later call
    // tries again.
    static const SaneLibrary* Shared(const std::string& file, std::string* whyNot);
    // The library named by VELOMARK_SANE_LIBRARY, else kDefaultFile.
    static std::string FileFromEnvironment();

    SaneLibrary(const SaneLibrary&) = delete;
    SaneLibrary& operator=(const SaneLibrary&) = delete;

    const SaneApi& Api() const { return m_api; }
    // Every device SANE offers, local and through its network backends; false with
    // SANE's reason in *error when it cannot list them.
    bool ListDevices(std::vector<SaneDeviceInfo>* devices, std::string* error) const;

private:
    SaneLibrary() = default;
    static const SaneLibrary* Load(const std::string& file, std::string* whyNot);

    SaneApi m_api;
};
