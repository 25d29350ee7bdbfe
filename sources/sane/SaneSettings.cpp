#include "sources/sane/SaneSettings.h"

#include <algorithm>

namespace {

// Lower numbers are set first.
int ApplyRank(const std::string& name) {
    static const char* const kOrder[] = {"mode", "depth", "source", "resolution",
                                         "tl-x", "tl-y",  "br-x",   "br-y"};
    for (int i = 0; i < int(std::size(kOrder)); ++i)
        if (name == kOrder[i]) return i;
    return int(std::size(kOrder));
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ',' || c == '\\' || c == '=') out += '\\';
        out += c;
    }
    return out;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool SaneSettings::Parse(const std::string& text, SaneSettings* settings, std::string* error) {
    SaneSettings parsed;
    std::string name, value;
    bool inValue = false, escaped = false;
    const auto finish = [&]() {
        const std::string trimmedName = Trim(name);
        if (trimmedName.empty() && !inValue) return true;  // an empty entry, e.g. a trailing comma
        if (!inValue) {
            *error = "\"" + trimmedName + "\" has no '=' and value";
            return false;
        }
        if (trimmedName.empty()) {
            *error = "an entry has a value but no option name";
            return false;
        }
        parsed.Set(trimmedName, value);
        name.clear();
        value.clear();
        inValue = false;
        return true;
    };
    for (char c : text) {
        std::string& target = inValue ? value : name;
        if (escaped) {
            target += c;
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == ',') {
            if (!finish()) return false;
        } else if (c == '=' && !inValue) {
            inValue = true;
        } else {
            target += c;
        }
    }
    if (!finish()) return false;
    *settings = std::move(parsed);
    return true;
}

std::string SaneSettings::Format() const {
    std::string text;
    for (const Entry& entry : m_entries) {
        if (!text.empty()) text += ',';
        text += Escape(entry.first) + '=' + Escape(entry.second);
    }
    return text;
}

void SaneSettings::Set(const std::string& name, const std::string& value) {
    for (Entry& entry : m_entries) {
        if (entry.first == name) {
            entry.second = value;
            return;
        }
    }
    m_entries.emplace_back(name, value);
}

const std::string* SaneSettings::Find(const std::string& name) const {
    for (const Entry& entry : m_entries)
        if (entry.first == name) return &entry.second;
    return nullptr;
}

void SaneSettings::Merge(const SaneSettings& over) {
    for (const Entry& entry : over.m_entries) Set(entry.first, entry.second);
}

std::vector<SaneSettings::Entry> SaneSettings::InApplyOrder() const {
    std::vector<Entry> ordered = m_entries;
    std::stable_sort(ordered.begin(), ordered.end(), [](const Entry& a, const Entry& b) {
        return ApplyRank(a.first) < ApplyRank(b.first);
    });
    return ordered;
}
