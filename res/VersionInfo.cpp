#include "res/VersionInfo.h"

namespace velomark::res {
namespace {

// Kept in the executable as "key=value" lines, readable without running it.
[[gnu::used, gnu::section(".velomark.version")]] const char kVersionSection[] =
    "FileVersion=1.0.0.1\n"
    "ProductVersion=1.0.0.1\n"
    "FileDescription=Velomark MFC Application\n"
    "ProductName=Velomark Application\n"
    "InternalName=Velomark\n"
    "OriginalFilename=Velomark.EXE\n";

constexpr VersionRecord kRecord{
    "1.0.0.1",  "1.0.0.1",     "Velomark MFC Application", "Velomark Application",
    "Velomark", "Velomark.EXE"};

}  // namespace

const VersionRecord& ProgramVersion() {
    // Referencing the section here keeps it in every program that asks for the record.
    static_cast<void>(kVersionSection[0]);
    return kRecord;
}

}  // namespace velomark::res
