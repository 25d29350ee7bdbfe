#include "dsm/DefaultSourceStore.h"

#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/ConfigFile.h"

namespace fs = std::filesystem;

fs::path DefaultSourceStore::FilePath() { return VelomarkConfigFile("dsm.conf"); }

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
    return WriteConfigFile(path,
                           std::string("# The data source chosen last in Velomark's Select "
                                       "Source dialog.\n") +
                               kKey + productName + "\n",
                           error);
}
