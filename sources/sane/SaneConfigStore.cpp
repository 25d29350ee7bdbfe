#include "sources/sane/SaneConfigStore.h"

#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/ConfigFile.h"

namespace fs = std::filesystem;

namespace {

using Sections = std::vector<std::pair<std::string, SaneSettings>>;

// The section name of a "[name]" line; false for any other line.
bool SectionName(const std::string& line, std::string* name) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
    *name = line.substr(1, line.size() - 2);
    return true;
}

bool ReadSections(const fs::path& path, Sections* sections) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) return true;  // no file yet: nothing remembered
    if (size > SaneConfigStore::kMaxFileBytes) return false;
    std::ifstream in(path);
    std::string line;
    SaneSettings* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string name;
        if (SectionName(line, &name)) {
            sections->emplace_back(name, SaneSettings{});
            current = &sections->back().second;
            continue;
        }
        const size_t equals = line.find('=');
        if (!current || line.empty() || line[0] == '#' || equals == std::string::npos ||
            equals == 0)
            continue;
        current->Set(line.substr(0, equals), line.substr(equals + 1));
    }
    return true;
}

}  // namespace

fs::path SaneConfigStore::FilePath() { return VelomarkConfigFile("sane.conf"); }

SaneSettings SaneConfigStore::Load(const std::string& device) {
    const fs::path path = FilePath();
    Sections sections;
    if (path.empty() || !ReadSections(path, &sections)) return {};
    for (const auto& [name, settings] : sections)
        if (name == device) return settings;
    return {};
}

bool SaneConfigStore::Save(const std::string& device, const SaneSettings& settings,
                           std::string* error) {
    const fs::path path = FilePath();
    if (path.empty()) {
        *error = "neither XDG_CONFIG_HOME nor HOME is set";
        return false;
    }
    const auto holdsLineBreak = [](const std::string& text) {
        return text.find_first_of("\r\n") != std::string::npos;
    };
    if (holdsLineBreak(device)) {
        *error = "the device name holds a line break";
        return false;
    }
    for (const auto& [name, value] : settings.Entries()) {
        if (holdsLineBreak(name) || holdsLineBreak(value) || name.find('=') != std::string::npos) {
            *error = "option " + name + " cannot be written as one line";
            return false;
        }
    }
    Sections sections;
    if (!ReadSections(path, &sections)) {
        *error = path.string() + " is too large to be Velomark's";
        return false;
    }
    bool replaced = false;
    for (auto& [name, kept] : sections) {
        if (name == device) {
            kept = settings;
            replaced = true;
        }
    }
    if (!replaced) sections.emplace_back(device, settings);

    std::ostringstream out;
    out << "# The options Velomark last used with each SANE device.\n";
    for (const auto& [name, kept] : sections) {
        out << '[' << name << "]\n";
        for (const auto& [option, value] : kept.Entries()) out << option << '=' << value << '\n';
    }
    return WriteConfigFile(path, out.str(), error);
}
