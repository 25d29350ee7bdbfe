// Velomark's own web page and the module for web applications, served by the eSCL
// server from the folder they are installed in (share/velomark/web beside the
// program's bin/). Only the files named here are ever read: a request's path is
// looked up, never joined to the folder, so no path reaches outside it.
#pragma once

#include <string>

namespace velomark {

class EsclWebFiles {
public:
    // The folder beside the running program; `folder` for tests.
    EsclWebFiles();
    explicit EsclWebFiles(std::string folder) : m_folder(std::move(folder)) {}

    // Whether `path` (without its query) is one of the served files.
    static bool Serves(const std::string& path);
    // The file's bytes and type; false when it is not one of them or cannot be read.
    bool Read(const std::string& path, std::string* body, std::string* contentType) const;

private:
    std::string m_folder;
};

}  // namespace velomark
