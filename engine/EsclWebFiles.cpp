#include "engine/EsclWebFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace velomark {

namespace {

struct WebFile {
    const char* path;
    const char* file;
    const char* type;
};

constexpr WebFile kFiles[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/index.html", "index.html", "text/html; charset=utf-8"},
    {"/velomark.css", "velomark.css", "text/css; charset=utf-8"},
    {"/page.js", "page.js", "text/javascript; charset=utf-8"},
    {"/pdf.js", "pdf.js", "text/javascript; charset=utf-8"},
    {"/velomark.js", "velomark.js", "text/javascript; charset=utf-8"},
};

const WebFile* Find(const std::string& path) {
    const std::string bare = path.substr(0, path.find('?'));
    for (const WebFile& file : kFiles)
        if (bare == file.path) return &file;
    return nullptr;
}

std::string ProgramWebFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    return (exe.parent_path().parent_path() / "share/velomark/web").string();
}

}  // namespace

EsclWebFiles::EsclWebFiles() : m_folder(ProgramWebFolder()) {}

bool EsclWebFiles::Serves(const std::string& path) { return Find(path) != nullptr; }

bool EsclWebFiles::Read(const std::string& path, std::string* body, std::string* contentType) const {
    const WebFile* file = Find(path);
    if (!file || m_folder.empty()) return false;
    std::ifstream in(m_folder + "/" + file->file, std::ios::binary);
    if (!in) return false;
    body->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    *contentType = file->type;
    return true;
}

}  // namespace velomark
