// Velomark's version record. The program carries it in an ELF section of its own,
// ".velomark.version" (readelf -p .velomark.version), and the desktop entry file
// repeats it.
#pragma once

namespace velomark::res {

struct VersionRecord {
    const char* fileVersion;
    const char* productVersion;
    const char* fileDescription;
    const char* productName;
    const char* internalName;
    const char* originalFilename;
};

const VersionRecord& ProgramVersion();

}  // namespace velomark::res
