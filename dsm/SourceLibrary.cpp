#include "dsm/SourceLibrary.h"

#include <cstring>

#include "twain/DataSource.h"

namespace {

// A library may fill a name to the last byte; the DSM compares and prints them as C strings.
template <size_t N>
void Terminate(char (&text)[N]) {
    text[N - 1] = '\0';
}

}  // namespace

std::unique_ptr<SourceLibrary> SourceLibrary::Load(const std::string& path, std::string* whyNot,
                                                   std::string* note, bool standard) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        // The loader's text usually begins with the path, which the caller prints already.
        *whyNot = ModuleLoadError();
        const std::string prefix = path + ": ";
        if (whyNot->compare(0, prefix.size(), prefix) == 0) whyNot->erase(0, prefix.size());
        return nullptr;
    }
    auto entry = reinterpret_cast<DSENTRYPROC>(GetProcAddress(module, "DS_Entry"));
    if (!entry) {
        FreeLibrary(module);
        *whyNot = "it does not export DS_Entry";
        return nullptr;
    }
    std::unique_ptr<SourceLibrary> library(new SourceLibrary(path, module, entry, standard));
    library->ReadIdentities();
    library->ReadNote();
    if (note) *note = library->m_note;
    if (library->m_identities.empty()) {
        *whyNot = "it offers no source with a product name";
        return nullptr;
    }
    return library;
}

SourceLibrary::SourceLibrary(std::string path, HMODULE module, DSENTRYPROC entry, bool standard)
    : m_path(std::move(path)), m_module(module), m_entry(entry), m_standard(standard) {}

SourceLibrary::~SourceLibrary() { FreeLibrary(m_module); }

TW_UINT16 SourceLibrary::Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                              TW_MEMREF data) const {
    return m_entry(origin, dg, dat, msg, data);
}

void SourceLibrary::ReadIdentities() {
    if (m_standard) {
        // Room behind the identity: drivers built with 8-byte TW_UINT32 write past it.
        struct {
            TW_IDENTITY identity;
            char spare[64];
        } answer{};
        if (m_entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &answer.identity) == TWRC_SUCCESS)
            Keep(answer.identity);
        return;
    }
    TW_IDENTITY identity{};
    TW_UINT16 rc = m_entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
    if (rc == TWRC_FAILURE) {
        // A library with a single source need not list; it answers MSG_GET.
        identity = {};
        if (m_entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity) == TWRC_SUCCESS) {
            Keep(identity);
        }
        return;
    }
    for (size_t asked = 1; rc == TWRC_SUCCESS; ++asked) {
        Keep(identity);
        if (asked == kMaxIdentities) break;
        identity = {};
        rc = m_entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity);
    }
}

void SourceLibrary::ReadNote() {
    if (m_standard) return;
    TW_VELOMARK_NOTE note{};
    if (m_entry(nullptr, DG_CONTROL, DAT_VELOMARK_NOTE, MSG_GET, &note) != TWRC_SUCCESS) return;
    m_note.assign(note.Text, strnlen(note.Text, sizeof note.Text));
    // One line: the dialog shows it as a label.
    for (char& c : m_note)
        if (c == '\n' || c == '\r') c = ' ';
}

std::string SourceLibrary::LongName(const TW_IDENTITY& identity) const {
    if (m_standard) return {};
    TW_VELOMARK_LONGNAME request{};
    request.Identity = identity;
    if (m_entry(nullptr, DG_CONTROL, DAT_VELOMARK_LONGNAME, MSG_GET, &request) != TWRC_SUCCESS)
        return {};
    return std::string(request.LongName, strnlen(request.LongName, sizeof request.LongName));
}

void SourceLibrary::Keep(TW_IDENTITY identity) {
    Terminate(identity.Version.Info);
    Terminate(identity.Manufacturer);
    Terminate(identity.ProductFamily);
    Terminate(identity.ProductName);
    identity.Id = 0;
    // Sources are opened and remembered by product name; a nameless one cannot be chosen.
    if (identity.ProductName[0] != '\0') m_identities.push_back(identity);
}
