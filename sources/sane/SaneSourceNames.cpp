#include "sources/sane/SaneSourceNames.h"

#include <algorithm>
#include <set>

namespace {

constexpr size_t kShortestDeviceTail = 10;  // characters of the device name kept at least

std::string Clean(const std::string& text) {
    std::string out;
    for (char c : text) out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    return out;
}

}  // namespace

std::string SaneSourceNames::BaseName(const SaneDeviceInfo& device) {
    std::string model = Clean(device.model.empty() ? device.vendor : device.model);
    const std::string name = Clean(device.name);
    if (model.empty()) model = "Scanner";
    std::string whole = model + " (" + name + ")";
    if (whole.size() <= kMaxLength) return whole;
    // " (..." and ")" around the device name's tail.
    const size_t frame = 6;
    size_t tail = kMaxLength > model.size() + frame ? kMaxLength - model.size() - frame : 0;
    if (tail < kShortestDeviceTail) {
        tail = std::min(name.size(), kShortestDeviceTail);
        model.resize(kMaxLength - frame - tail);
    }
    if (tail >= name.size()) return (model + " (" + name + ")").substr(0, kMaxLength);
    return model + " (..." + name.substr(name.size() - tail) + ")";
}

std::vector<std::string> SaneSourceNames::ProductNames(const std::vector<SaneDeviceInfo>& devices) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const SaneDeviceInfo& device : devices) {
        const std::string base = BaseName(device);
        std::string name = base;
        for (int twin = 2; taken.count(name); ++twin) {
            const std::string suffix = " #" + std::to_string(twin);
            name = base.substr(0, kMaxLength - suffix.size()) + suffix;
        }
        taken.insert(name);
        names.push_back(name);
    }
    return names;
}
