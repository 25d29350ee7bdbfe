#include "dsm/SourceSearchPath.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <system_error>

#include "dsm/DsmEntry.h"

namespace fs = std::filesystem;

namespace {

// velomark/sources/ beside the file that holds DSM_Entry; empty when it cannot be told.
fs::path BuiltInFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DSM_Entry), &info) == 0 || !info.dli_fname ||
        !*info.dli_fname) {
        return {};
    }
    return fs::path(info.dli_fname).parent_path() / "velomark" / "sources";
}

// A colon-separated list of folders, without its empty entries.
std::vector<fs::path> SplitPathList(const std::string& list) {
    std::vector<fs::path> folders;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) folders.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

}  // namespace

std::vector<fs::path> SourceSearchPath::Folders() {
    std::vector<fs::path> folders;
    fs::path builtIn = BuiltInFolder();
    if (!builtIn.empty()) folders.push_back(std::move(builtIn));
    if (const char* extra = std::getenv("VELOMARK_SOURCE_PATH")) {
        for (fs::path& folder : SplitPathList(extra)) folders.push_back(std::move(folder));
    }
    for (fs::path& folder : DriverFolders()) folders.push_back(std::move(folder));
    return folders;
}

std::vector<fs::path> SourceSearchPath::DriverFolders() {
    std::vector<fs::path> folders{fs::path("/usr/local/lib/twain")};
    if (const char* extra = std::getenv("VELOMARK_TWAIN_DS_DIR"); extra && *extra)
        folders.emplace_back(extra);
    return folders;
}

bool SourceSearchPath::IsDriverFolder(const fs::path& folder) {
    for (const fs::path& driverFolder : DriverFolders())
        if (folder == driverFolder) return true;
    return false;
}

namespace {

template <typename Iterator>
void CollectSourceFiles(Iterator it, std::error_code& error, std::vector<fs::path>& files) {
    for (; !error && it != Iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension() != ".ds") continue;
        std::error_code statusError;
        if (!fs::is_regular_file(it->status(statusError)) || statusError) continue;
        files.push_back(path);
    }
}

}  // namespace

std::vector<fs::path> SourceSearchPath::SourceFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    if (IsDriverFolder(folder)) {
        // Drivers sit in folders of their own, with their files beside them.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            error);
        if (error) return files;
        CollectSourceFiles(std::move(it), error, files);
        std::sort(files.begin(), files.end());
        return files;
    }
    fs::directory_iterator it(folder, error);
    if (error) return files;
    CollectSourceFiles(std::move(it), error, files);
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().native() < b.filename().native();
    });
    return files;
}
