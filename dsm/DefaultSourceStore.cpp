#include "dsm/DefaultSourceStore.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

fs::path DefaultSourceStore::FilePath() {
    // A relative XDG_CONFIG_HOME is ignored, as the XDG base-directory convention asks.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') return fs::path(configHome) / "velomark" / "dsm.conf";
    const char* home = std::getenv("HOME");
    if (home && *home) return fs::path(home) / ".config" / "velomark" / "dsm.conf";
    return {};
}

std::string DefaultSourceStore::Load() {
    const fs::path path = FilePath();
    if (path.empty()) return {};
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > kMaxFileBytes) return {};
    std::ifstream in(path);
    std::string line;
    std::string name;
    const size_t keyLength = std::strlen(kKey);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, keyLength, kKey) == 0) name = line.substr(keyLength);
    }
    return name;
}

bool DefaultSourceStore::Save(const std::string& productName, std::string* error) {
    const fs::path path = FilePath();
    if (path.empty()) {
        *error = "neither XDG_CONFIG_HOME nor HOME is set";
        return false;
    }
    if (productName.find_first_of("\r\n") != std::string::npos) {
        *error = "the product name holds a line break";
        return false;
    }
    std::error_code fsError;
    fs::create_directories(path.parent_path(), fsError);
    if (fsError) {
        *error = path.parent_path().string() + ": " + fsError.message();
        return false;
    }
    // Written aside and renamed over the old file, so a reader never sees half a file.
    const fs::path temporary = path.string() + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# The data source chosen last in Velomark's Select Source dialog.\n"
            << kKey << productName << '\n';
        out.close();
        if (!out) {
            fs::remove(temporary, fsError);
            *error = temporary.string() + ": cannot write";
            return false;
        }
    }
    fs::rename(temporary, path, fsError);
    if (fsError) {
        *error = path.string() + ": " + fsError.message();
        fs::remove(temporary, fsError);
        return false;
    }
    return true;
}
