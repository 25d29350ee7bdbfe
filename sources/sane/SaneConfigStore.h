// The options last used with each device, kept in $XDG_CONFIG_HOME/velomark/sane.conf
// (or $HOME/.config/velomark/sane.conf): a section "[<SANE device name>]" per device,
// then one "name=value" line per option.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "sources/sane/SaneSettings.h"

class SaneConfigStore {
public:
    // The file's path; empty when neither XDG_CONFIG_HOME nor HOME is set.
    static std::filesystem::path FilePath();
    // The device's remembered options; none when the file or its section is missing.
    static SaneSettings Load(const std::string& device);
    // Replaces the device's section, keeping every other; false with the reason in
    // *error when the file cannot be written.
    static bool Save(const std::string& device, const SaneSettings& settings, std::string* error);

    // A larger file is not one this class wrote; it is neither read nor replaced.
    static constexpr std::uintmax_t kMaxFileBytes = 256 * 1024;
};
