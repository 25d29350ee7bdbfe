#include "docview/VelomarkDoc.h"

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>

#include "platform/FileAside.h"
#include "platform/HeapTuning.h"

wxIMPLEMENT_DYNAMIC_CLASS(CVelomarkDoc, wxDocument);

using velomark::ImageFileFormat;

CVelomarkDoc::CVelomarkDoc() = default;

CVelomarkDoc::~CVelomarkDoc() {
    // A closed page's memory goes back to the system, not only to the heap.
    m_dib.Destroy();
    ReleaseFreeImageMemory();
}

bool CVelomarkDoc::OnNewDocument() { return wxDocument::OnNewDocument(); }

bool CVelomarkDoc::Save() {
    // The toolkit skips a save when nothing changed; a person who asks for one (the
    // file deleted meanwhile, say) gets the file written.
    if (GetDocumentSaved() && !GetFilename().empty()) return OnSaveDocument(GetFilename());
    return wxDocument::Save();
}

bool CVelomarkDoc::SaveAs() {
    const wxFileName current(GetFilename());
    wxString folder = current.GetPath();
    if (folder.empty() && GetDocumentManager()) folder = GetDocumentManager()->GetLastDirectory();
    wxFileDialog dialog(GetDocumentWindow(), "Save As", folder, current.GetFullName(),
                        velomark::SaveAsWildcard(), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    // The type offered first is the one the document's file has.
    const ImageFileFormat shown =
        velomark::FormatOfExtension(GetFilename().utf8_string()).value_or(ImageFileFormat::Bmp);
    dialog.SetFilterIndex(static_cast<int>(shown));
    if (dialog.ShowModal() != wxID_OK) return false;
    return SaveImageAs(dialog.GetPath(), velomark::FormatOfFilterIndex(dialog.GetFilterIndex()));
}

bool CVelomarkDoc::SaveImageAs(const wxString& path, ImageFileFormat typeChosen) {
    m_saveFormat = velomark::FormatOfExtension(path.utf8_string()).value_or(typeChosen);
    const bool saved = OnSaveDocument(path);
    m_saveFormat.reset();
    if (!saved) return false;
    SetTitle(wxFileNameFromPath(path));
    SetFilename(path, true);
    if (wxDocManager* manager = GetDocumentManager()) {
        manager->AddFileToHistory(path);
        manager->SetLastDirectory(wxPathOnly(path));
    }
    return true;
}

bool CVelomarkDoc::DoSaveDocument(const wxString& path) {
    // Save writes BMP unless the name asks for another format.
    const ImageFileFormat format = m_saveFormat.value_or(
        velomark::FormatOfExtension(path.utf8_string()).value_or(ImageFileFormat::Bmp));
    std::string reason;
    const bool saved = velomark::WriteFileAside(
        path.utf8_string(),
        [&](const std::string& temporary, std::string& why) {
            return velomark::WriteImageFile(m_dib, m_resolution, format, temporary, why);
        },
        reason);
    if (!saved) wxLogError("Cannot save \"%s\": %s.", path, wxString::FromUTF8(reason));
    return saved;
}

bool CVelomarkDoc::DoOpenDocument(const wxString& path) {
    if (!wxFileName::IsFileReadable(path)) {
        wxLogError("Cannot open \"%s\": %s.", path,
                   wxFileName::FileExists(path) ? "permission denied" : "no such file");
        return false;
    }
    ImageFileFormat tried = ImageFileFormat::Bmp;
    std::string reason;
    velomark::PageResolution dpi;
    if (!velomark::ReadImageFile(path.utf8_string(), m_dib, dpi, tried, reason)) {
        m_dib.Destroy();
        if (reason.empty()) {
            wxLogError("\"%s\" is not a %s image Velomark can read.", path,
                       velomark::FormatName(tried));
        } else {
            wxLogError("Cannot open \"%s\": %s.", path, wxString::FromUTF8(reason));
        }
        return false;
    }
    m_resolution = dpi;
    return true;
}

void CVelomarkDoc::ImageSideAdapter::UpdateAllViews() {
    // An acquired page exists nowhere else until it is saved or reaches the client.
    m_doc.Modify(true);
    m_doc.UpdateAllViews();
}

void CVelomarkDoc::ImageSideAdapter::Discard() {
    // Nothing of an image that never arrived is worth keeping: close without asking.
    m_doc.Modify(false);
    if (wxDocManager* manager = m_doc.GetDocumentManager()) {
        manager->CloseDocument(&m_doc, true);  // deletes the document with its last view
    } else {
        m_doc.DeleteAllViews();
    }
}
