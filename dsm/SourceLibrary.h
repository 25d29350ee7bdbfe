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
    // Loads the library at `path` and reads its identities and its note. Null, with
    // the reason in *whyNot, when it cannot be loaded, has no DS_Entry or offers no
    // source; nothing stays loaded then, and a library that offered no source but
    // gave a note leaves it in *note.
    // A standard library (a TWAIN 2 driver) is asked only what the standard Linux DSM
    // asks before a session: DAT_IDENTITY / MSG_GET, one source, no Velomark triplets.
    // Such drivers may take any other triplet without an origin as an open request.
    static std::unique_ptr<SourceLibrary> Load(const std::string& path, std::string* whyNot,
                                               std::string* note = nullptr,
                                               bool standard = false);

    ~SourceLibrary();
    SourceLibrary(const SourceLibrary&) = delete;
    SourceLibrary& operator=(const SourceLibrary&) = delete;

    const std::string& Path() const { return m_path; }
    // The identities the library offered, strings terminated, Id zero.
    const std::vector<TW_IDENTITY>& Identities() const { return m_identities; }
    // The line the library asks the selection dialog to show (DAT_VELOMARK_NOTE);
    // empty when it gave none.
    const std::string& Note() const { return m_note; }
    // The source's other name (DAT_VELOMARK_LONGNAME); empty when it has none.
    std::string LongName(const TW_IDENTITY& identity) const;

    // Calls the library's DS_Entry.
    TW_UINT16 Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                   TW_MEMREF data) const;

    // A library that never answers TWRC_ENDOFLIST is not asked beyond this many.
    static constexpr size_t kMaxIdentities = 64;

private:
    SourceLibrary(std::string path, HMODULE module, DSENTRYPROC entry, bool standard);
    void ReadIdentities();
    void ReadNote();
    void Keep(TW_IDENTITY identity);

    std::string m_path;
    HMODULE m_module;
    DSENTRYPROC m_entry;
    std::vector<TW_IDENTITY> m_identities;
    std::string m_note;
    bool m_standard;
};
