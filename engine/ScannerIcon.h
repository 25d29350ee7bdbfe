// The picture network clients show for a shared scanner: the program's icon (a page
// under a scanner's light bar) drawn at 128 x 128 and written as a PNG, once.
#pragma once

#include <string>

namespace velomark {

const std::string& ScannerIconPng();

}  // namespace velomark
