// The product names under which SANE devices are listed. A TWAIN product name holds
// 33 characters, a SANE device name can be much longer, and two devices of one model
// (twins) must still be told apart: the name is "<model> (<device name>)", the device
// name cut from the left ("...") and then the model cut when they do not fit, and a
// name that is still taken gets " #2", " #3"... The same device list gives the same
// names on every run, so a remembered choice finds its device again.
#pragma once

#include <string>
#include <vector>

#include "sources/sane/SaneLibrary.h"

class SaneSourceNames {
public:
    static constexpr size_t kMaxLength = 33;

    // One name per device, in the devices' order.
    static std::vector<std::string> ProductNames(const std::vector<SaneDeviceInfo>& devices);
    // One device's name before twins are told apart.
    static std::string BaseName(const SaneDeviceInfo& device);
};
