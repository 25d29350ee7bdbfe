// Where waiting images go when memory would hold too many: one file in the user's
// cache folder ($XDG_CACHE_HOME/velomark, else ~/.cache/velomark), created
// unlinked (no other process can open it, and it vanishes with Velomark), written
// at its end and read back at the offsets it gave. Made at first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace velomark {

class SpoolFile {
public:
    SpoolFile() = default;
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // Appends the bytes; their offset in *offset. False with the reason in *error
    // (disk full, no cache folder); then nothing of them is kept.
    bool Append(const void* bytes, size_t size, uint64_t* offset, std::string* error);
    // Reads bytes written by Append. False with the reason in *error.
    bool Read(uint64_t offset, void* bytes, size_t size, std::string* error) const;
    // Forgets everything written, giving the disk space back.
    void Reset();

    // The folder the file is made in.
    static std::filesystem::path Folder();

private:
    bool Create(std::string* error);

    int m_fd = -1;
    uint64_t m_end = 0;
};

}  // namespace velomark
