// One loaded data source library (*.ds) and the sources it offers, asked once
// when it is loaded. The library stays loaded while this object lives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Module.h"
#include "twain/TwainTypes.h"

class SourceLibrary {
public:
    // Loads the library at `path` and reads its identities. Null, with the
    // reason in *whyNot, when it cannot be loaded, has no DS_Entry or offers no
    // source; nothing stays loaded then.
    static std::unique_ptr<SourceLibrary> Load(const std::string& path, std::string* whyNot);

    ~SourceLibrary();
    SourceLibrary(const SourceLibrary&) = delete;
    SourceLibrary& operator=(const SourceLibrary&) = delete;

    const std::string& Path() const { return m_path; }
    // The identities the library offered, strings terminated, Id zero.
    const std::vector<TW_IDENTITY>& Identities() const { return m_identities; }

    // Calls the library's DS_Entry.
    TW_UINT16 Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                   TW_MEMREF data) const;

    // A library that never answers TWRC_ENDOFLIST is not asked beyond this many.
    static constexpr size_t kMaxIdentities = 64;

private:
    SourceLibrary(std::string path, HMODULE module, DSENTRYPROC entry);
    void ReadIdentities();
    void Keep(TW_IDENTITY identity);

    std::string m_path;
    HMODULE m_module;
    DSENTRYPROC m_entry;
    std::vector<TW_IDENTITY> m_identities;
};
