// SANE options by name with their values as text, in the order they were given:
// what VELOMARK_SANE_OPTIONS says, what the window chose and what sane.conf remembers
// per device. Written as "name=value,name=value"; a backslash takes the next
// character as it is, so "\," is a comma inside a value.
#pragma once

#include <string>
#include <utility>
#include <vector>

class SaneSettings {
public:
    using Entry = std::pair<std::string, std::string>;

    // Reads "name=value,..." into *settings. False, with the reason in *error and
    // *settings untouched, for an entry without '=' or without a name.
    static bool Parse(const std::string& text, SaneSettings* settings, std::string* error);
    std::string Format() const;

    // Replaces the value of `name`, or adds it at the end.
    void Set(const std::string& name, const std::string& value);
    // The value of `name`; null when it is not set.
    const std::string* Find(const std::string& name) const;
    // Every entry of `over` set here, in its order.
    void Merge(const SaneSettings& over);

    const std::vector<Entry>& Entries() const { return m_entries; }
    bool Empty() const { return m_entries.empty(); }
    // The entries in the order they are set on a device: the options that change what
    // other options offer (mode, depth, source, resolution) first, the scan area next,
    // then the rest in their own order.
    std::vector<Entry> InApplyOrder() const;

    bool operator==(const SaneSettings&) const = default;

private:
    std::vector<Entry> m_entries;
};
