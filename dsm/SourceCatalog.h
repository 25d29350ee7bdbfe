// The sources one DSM session offers: every source library found on the search
// path, loaded, with the identities it offered. A product name offered twice is
// taken from the first library that offered it; a library left with nothing to
// offer is unloaded at once, its note (e.g. why it offers no device) kept.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "dsm/SourceLibrary.h"
#include "twain/TwainTypes.h"

struct ListedSource {
    TW_IDENTITY identity;  // as the library offered it, with the Id the DSM assigned
    const SourceLibrary* library;
};

class SourceCatalog {
public:
    SourceCatalog() = default;
    SourceCatalog(const SourceCatalog&) = delete;
    SourceCatalog& operator=(const SourceCatalog&) = delete;

    // Loads the *.ds libraries of the folders (folder order, then file name
    // order) and lists their sources, each with an Id from `nextId`. A library
    // that cannot be used is skipped with one line on stderr.
    void Scan(const std::vector<std::filesystem::path>& folders,
              const std::function<TW_UINT32()>& nextId);
    // Unloads every library; the list is empty afterwards.
    void Clear();

    size_t Count() const { return m_sources.size(); }
    const ListedSource& At(size_t index) const { return m_sources[index]; }
    size_t IndexOf(const ListedSource& source) const { return &source - m_sources.data(); }

    // The notes the libraries gave for the selection dialog, in listing order.
    const std::vector<std::string>& Notes() const { return m_notes; }

    // The source with this product name; null when none.
    const ListedSource* FindByName(const char* productName) const;
    // The source whose library gives it this other name (a scanner's device name);
    // null when none.
    const ListedSource* FindByLongName(const char* longName) const;
    // The source an application names: its product name must match when it is
    // given, and its Id when that is non-zero. Null when none matches.
    const ListedSource* Find(const TW_IDENTITY& wanted) const;
    // VELOMARK_DEFAULT_SOURCE when it names a listed source (by product name, else
    // by the other name its library gives it), else the product
    // name remembered by DefaultSourceStore when it does, else the first
    // source; null when nothing is listed.
    const ListedSource* DefaultSource() const;

private:
    void Add(std::unique_ptr<SourceLibrary> library, const std::function<TW_UINT32()>& nextId);

    std::vector<std::unique_ptr<SourceLibrary>> m_libraries;
    std::vector<ListedSource> m_sources;
    std::vector<std::string> m_notes;
};
