// Where the DSM looks for data source libraries: the folder velomark/sources/
// beside the DSM's own library file, then each folder of VELOMARK_SOURCE_PATH
// (colon-separated), then the TWAIN driver folders, in that order.
//
// TWAIN driver folders are where scanner makers install TWAIN 2 drivers for the
// standard Linux DSM: /usr/local/lib/twain and VELOMARK_TWAIN_DS_DIR. They are
// searched recursively, and their libraries are spoken to as the standard DSM
// does (SourceLibrary's standard mode).
#pragma once

#include <filesystem>
#include <vector>

class SourceSearchPath {
public:
    // The folders to search, in order; empty entries of VELOMARK_SOURCE_PATH are skipped.
    static std::vector<std::filesystem::path> Folders();
    // The *.ds files in one folder, sorted by file name; none when it cannot be read.
    // A TWAIN driver folder's subfolders too (sorted by path; links to folders are
    // not followed).
    static std::vector<std::filesystem::path> SourceFiles(const std::filesystem::path& folder);
    // The TWAIN driver folders.
    static std::vector<std::filesystem::path> DriverFolders();
    static bool IsDriverFolder(const std::filesystem::path& folder);
};
