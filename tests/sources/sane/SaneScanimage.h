// scanimage as the peer the SANE tests compare with: the same device, the same SANE
// configuration folder (SANE_CONFIG_DIR of this process) and the same options.
#pragma once

#include <string>

#include "sources/sane/SaneSettings.h"
#include "tests/sources/sane/SaneTestImages.h"

namespace SaneScanimage {

// Whether scanimage can be run here.
bool Available();
// The arguments scanimage takes for these options: -l/-t/-x/-y for the scan area
// (tl-x, tl-y, br-x, br-y), --name=value for every other option.
std::string Arguments(const SaneSettings& options);
// Scans one page into *image; false with scanimage's complaint in *error.
bool Scan(const std::string& device, const SaneSettings& options, DecodedImage* image,
          std::string* error);

}  // namespace SaneScanimage

// The project's SANE configuration for the tests: the test backend with 40 devices.
inline const char* SaneTestConfigDir() { return VELOMARK_SANE_TEST_CONFIG; }
constexpr int kSaneTestDevices = 40;

// A test backend device that no earlier test of this program used: SANE runs until the
// program ends, and the test backend keeps each device's options until then.
inline int FreshSaneTestDevice() {
    static int next = 0;
    return next++ % kSaneTestDevices;
}
