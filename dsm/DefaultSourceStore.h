// The product name of the source last chosen in the selection dialog, kept in
// $XDG_CONFIG_HOME/velomark/dsm.conf (or $HOME/.config/velomark/dsm.conf) as a
// line "DefaultSource=<product name>".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class DefaultSourceStore {
public:
    // The file's path; empty when neither XDG_CONFIG_HOME nor HOME is set.
    static std::filesystem::path FilePath();
    // The remembered product name; empty when none is remembered or the file is unreadable.
    static std::string Load();
    // Remembers `productName`, replacing the file as a whole; false with the
    // reason in *error when it cannot be written.
    static bool Save(const std::string& productName, std::string* error);

    static constexpr const char* kKey = "DefaultSource=";
    // A file larger than this is not a file this class wrote; it is not read.
    static constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;
};
