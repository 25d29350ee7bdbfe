#include "docview/SaveAllPages.h"

#include <wx/aui/auibook.h>
#include <wx/docview.h>
#include <wx/filedlg.h>
#include <wx/log.h>

#include <algorithm>
#include <climits>

#include "docview/ImageFileFormat.h"
#include "docview/VelomarkDoc.h"
#include "platform/FileAside.h"

namespace velomark {
namespace {

PageSetFormat FormatOfName(const std::string& path, PageSetFormat typeChosen) {
    const std::string extension = LowerExtension(path);
    if (extension == "pdf") return PageSetFormat::Pdf;
    if (extension == "tif" || extension == "tiff") return PageSetFormat::Tiff;
    return typeChosen;
}

// Where the document's window stands among the tabs (a person may drag them into
// another order); documents without a tab come last, in the order they were opened.
int TabIndex(const wxDocument& document) {
    wxWindow* window = document.GetDocumentWindow();
    auto* tabs = window ? dynamic_cast<wxAuiNotebook*>(window->GetParent()) : nullptr;
    const int index = tabs ? tabs->GetPageIndex(window) : wxNOT_FOUND;
    return index == wxNOT_FOUND ? INT_MAX : index;
}

// The document as a page to write: null when it holds no image.
const CVelomarkDoc* PageOf(wxDocument* document) {
    const auto* doc = dynamic_cast<const CVelomarkDoc*>(document);
    return doc && doc->m_dib.m_pBlock && doc->m_dib.m_nWidth > 0 && doc->m_dib.m_nHeight > 0
               ? doc
               : nullptr;
}

}  // namespace

bool HasOpenPages(wxDocManager& manager) {
    const wxDocVector documents = manager.GetDocumentsVector();
    return std::any_of(documents.begin(), documents.end(),
                       [](wxDocument* document) { return PageOf(document) != nullptr; });
}

std::vector<PageToWrite> OpenPages(wxDocManager& manager) {
    std::vector<std::pair<int, PageToWrite>> ordered;
    for (wxDocument* document : manager.GetDocumentsVector()) {
        if (const CVelomarkDoc* doc = PageOf(document))
            ordered.push_back({TabIndex(*doc), {&doc->m_dib, doc->Resolution()}});
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PageToWrite> pages;
    for (const auto& entry : ordered) pages.push_back(entry.second);
    return pages;
}

bool SavePagesAs(wxDocManager& manager, const wxString& path, PageSetFormat typeChosen) {
    const std::vector<PageToWrite> pages = OpenPages(manager);
    const std::string name = path.utf8_string();
    const PageSetFormat format = FormatOfName(name, typeChosen);
    std::string reason;
    const bool saved = !pages.empty() && WriteFileAside(
                                             name,
                                             [&](const std::string& temporary, std::string& why) {
                                                 return format == PageSetFormat::Pdf
                                                            ? WritePdfPages(pages, temporary, why)
                                                            : WriteTiffPages(pages, temporary, why);
                                             },
                                             reason);
    if (pages.empty()) reason = "no window holds a page";
    if (!saved)
        wxLogError("Cannot save the pages as \"%s\": %s.", path, wxString::FromUTF8(reason));
    return saved;
}

void SaveAllPagesCommand(wxDocManager& manager, wxWindow* parent) {
    wxFileDialog dialog(parent, "Save All Pages", manager.GetLastDirectory(), wxString(),
                        "PDF document (*.pdf)|*.pdf|TIFF image (*.tif;*.tiff)|*.tif;*.tiff",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) return;
    const PageSetFormat chosen =
        dialog.GetFilterIndex() == 1 ? PageSetFormat::Tiff : PageSetFormat::Pdf;
    if (SavePagesAs(manager, dialog.GetPath(), chosen))
        manager.SetLastDirectory(wxPathOnly(dialog.GetPath()));
}

}  // namespace velomark
