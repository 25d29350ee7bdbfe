#include "dsm/SourceCatalog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsm/DefaultSourceStore.h"
#include "dsm/SourceSearchPath.h"

void SourceCatalog::Scan(const std::vector<std::filesystem::path>& folders,
                         const std::function<TW_UINT32()>& nextId) {
    for (const std::filesystem::path& folder : folders) {
        const bool driverFolder = SourceSearchPath::IsDriverFolder(folder);
        for (const std::filesystem::path& file : SourceSearchPath::SourceFiles(folder)) {
            std::string whyNot, note;
            std::unique_ptr<SourceLibrary> library =
                SourceLibrary::Load(file.string(), &whyNot, &note, driverFolder);
            if (!note.empty()) m_notes.push_back(note);
            if (!library) {
                std::fprintf(stderr, "velomark-dsm: skipping %s: %s\n", file.c_str(),
                             whyNot.c_str());
                continue;
            }
            Add(std::move(library), nextId);
        }
    }
}

void SourceCatalog::Add(std::unique_ptr<SourceLibrary> library,
                        const std::function<TW_UINT32()>& nextId) {
    bool offersNewSource = false;
    for (const TW_IDENTITY& offered : library->Identities()) {
        if (FindByName(offered.ProductName)) continue;
        ListedSource source{offered, library.get()};
        source.identity.Id = nextId();
        m_sources.push_back(source);
        offersNewSource = true;
    }
    if (offersNewSource) {
        m_libraries.push_back(std::move(library));
    } else {
        std::fprintf(stderr, "velomark-dsm: skipping %s: its sources are offered earlier\n",
                     library->Path().c_str());
    }
}

void SourceCatalog::Clear() {
    m_sources.clear();
    m_notes.clear();
    // Unloaded in reverse order of loading.
    while (!m_libraries.empty()) m_libraries.pop_back();
}

const ListedSource* SourceCatalog::FindByName(const char* productName) const {
    for (const ListedSource& source : m_sources) {
        if (std::strncmp(source.identity.ProductName, productName,
                         sizeof(source.identity.ProductName)) == 0) {
            return &source;
        }
    }
    return nullptr;
}

const ListedSource* SourceCatalog::FindByLongName(const char* longName) const {
    for (const ListedSource& source : m_sources)
        if (source.library->LongName(source.identity) == longName) return &source;
    return nullptr;
}

const ListedSource* SourceCatalog::Find(const TW_IDENTITY& wanted) const {
    const bool byName = wanted.ProductName[0] != '\0';
    for (const ListedSource& source : m_sources) {
        if (byName && std::strncmp(source.identity.ProductName, wanted.ProductName,
                                   sizeof(wanted.ProductName)) != 0) {
            continue;
        }
        if (wanted.Id != 0 && wanted.Id != source.identity.Id) continue;
        if (byName || wanted.Id != 0) return &source;
    }
    return nullptr;
}

const ListedSource* SourceCatalog::DefaultSource() const {
    if (m_sources.empty()) return nullptr;
    if (const char* chosen = std::getenv("VELOMARK_DEFAULT_SOURCE")) {
        if (const ListedSource* source = FindByName(chosen)) return source;
        if (*chosen)
            if (const ListedSource* source = FindByLongName(chosen)) return source;
    }
    const std::string remembered = DefaultSourceStore::Load();
    if (!remembered.empty()) {
        if (const ListedSource* source = FindByName(remembered.c_str())) return source;
    }
    return &m_sources.front();
}
