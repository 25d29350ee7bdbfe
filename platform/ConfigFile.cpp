#include "platform/ConfigFile.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/FileAside.h"

namespace fs = std::filesystem;

fs::path UserConfigFolder() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') return configHome;
    const char* home = std::getenv("HOME");
    if (home && *home) return fs::path(home) / ".config";
    return {};
}

fs::path VelomarkConfigFile(const char* name) {
    const fs::path folder = UserConfigFolder();
    return folder.empty() ? folder : folder / "velomark" / name;
}

bool WriteConfigFile(const fs::path& path, const std::string& content, std::string* error) {
    std::error_code fsError;
    fs::create_directories(path.parent_path(), fsError);
    if (fsError) {
        *error = path.parent_path().string() + ": " + fsError.message();
        return false;
    }
    std::string reason;
    const bool written = velomark::WriteFileAside(
        path.string(),
        [&](const std::string& temporary, std::string&) {
            std::ofstream out(temporary, std::ios::trunc);
            out << content;
            out.close();
            return static_cast<bool>(out);
        },
        reason);
    if (!written) *error = path.string() + ": " + reason;
    return written;
}
