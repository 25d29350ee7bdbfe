// Where the DSM looks for data source libraries: the folder velomark/sources/
// beside the DSM's own library file, then each folder of VELOMARK_SOURCE_PATH
// (colon-separated), in that order.
#pragma once

#include <filesystem>
#include <vector>

class SourceSearchPath {
public:
    // The folders to search, in order; empty entries of VELOMARK_SOURCE_PATH are skipped.
    static std::vector<std::filesystem::path> Folders();
    // The *.ds files in one folder, sorted by file name; none when it cannot be read.
    static std::vector<std::filesystem::path> SourceFiles(const std::filesystem::path& folder);
};
