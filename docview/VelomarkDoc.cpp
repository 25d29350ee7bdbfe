#include "docview/VelomarkDoc.h"

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>

#include <cerrno>
#include <cstring>

#include "platform/HeapTuning.h"

wxIMPLEMENT_DYNAMIC_CLASS(CVelomarkDoc, wxDocument);

namespace {

// Why the last file operation failed, from errno when it says anything.
wxString ReasonFromErrno(int error, const wxString& fallback) {
    return error != 0 ? wxString(std::strerror(error)) : fallback;
}

}  // namespace

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

bool CVelomarkDoc::DoSaveDocument(const wxString& path) {
    // The image goes to a new file beside the target that then replaces it, so that a
    // failed save leaves an existing file as it was.
    const wxFileName target(path);
    const wxString temporary = target.GetPathWithSep() + "." + target.GetFullName() + ".saving";
    errno = 0;
    bool created = false;
    {
        wxLogNull quiet;  // the failure is reported below, with the path
        wxFile file;
        created = file.Create(temporary, true, wxS_DEFAULT) && file.Close();
    }
    if (!created) {
        wxLogError("Cannot save \"%s\": no file can be created in its folder (%s).", path,
                   ReasonFromErrno(errno, "unknown reason"));
        return false;
    }
    // An empty document saves an empty file; an image is written as a BMP file.
    errno = 0;
    if (m_dib.m_pBlock && !m_dib.WriteBmp(temporary.fn_str())) {
        const int error = errno;
        wxRemoveFile(temporary);
        wxLogError("Cannot save \"%s\": the image could not be written (%s).", path,
                   ReasonFromErrno(error, "write failed"));
        return false;
    }
    errno = 0;
    bool renamed = false;
    {
        wxLogNull quiet;
        renamed = wxRenameFile(temporary, path, true);
    }
    if (!renamed) {
        const int error = errno;
        wxRemoveFile(temporary);
        wxLogError("Cannot save \"%s\": %s.", path, ReasonFromErrno(error, "cannot replace it"));
        return false;
    }
    return true;
}

bool CVelomarkDoc::DoOpenDocument(const wxString& path) {
    if (!wxFileName::IsFileReadable(path)) {
        wxLogError("Cannot open \"%s\": %s.", path,
                   wxFileName::FileExists(path) ? "permission denied" : "no such file");
        return false;
    }
    if (!m_dib.ReadBmp(path.fn_str())) {
        wxLogError("\"%s\" is not a BMP image Velomark can read.", path);
        return false;
    }
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
