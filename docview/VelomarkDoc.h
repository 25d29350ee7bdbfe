// One image, one document: the document owns its CDIB and the resolution of the
// page. Acquired images reach it through the image hand-off (ImageSide()) and count
// as unsaved until they are saved or sent to the client. File Save writes a BMP
// file (or the format its name's extension names); Save As lets the name's
// extension, else the dialog's file type, choose BMP, PNG, TIFF or JPEG; File Open
// reads all four.
#pragma once

#include <wx/docview.h>

#include <optional>

#include "bridge/ImageDocument.h"
#include "dib/Dib.h"
#include "docview/ImageFile.h"

class CVelomarkDoc : public wxDocument {
    wxDECLARE_DYNAMIC_CLASS(CVelomarkDoc);

public:
    CVelomarkDoc();
    ~CVelomarkDoc() override;

    bool OnNewDocument() override;
    // Save writes the file again also when nothing changed since the last save.
    bool Save() override;
    // Asks for a name and a file type, then SaveImageAs.
    bool SaveAs() override;
    // Saves under `path` in the format of its extension, else `typeChosen`; the
    // document takes the name. False, with a message logged, when the save failed.
    bool SaveImageAs(const wxString& path, velomark::ImageFileFormat typeChosen);

    // The page reached the client: closing it loses nothing, so no question.
    void MarkSentToClient() { Modify(false); }

    // What the image hand-off sees of this document.
    velomark::ImageDocument& ImageSide() { return m_imageSide; }

    velomark::PageResolution Resolution() const { return m_resolution; }
    void SetResolution(velomark::PageResolution dpi) { m_resolution = dpi; }

    CDIB m_dib;

protected:
    bool DoSaveDocument(const wxString& path) override;
    bool DoOpenDocument(const wxString& path) override;

private:
    class ImageSideAdapter : public velomark::ImageDocument {
    public:
        explicit ImageSideAdapter(CVelomarkDoc& doc) : m_doc(doc) {}
        CDIB& Image() override { return m_doc.m_dib; }
        void UpdateAllViews() override;
        void Discard() override;
        void SetResolution(double xDpi, double yDpi) override { m_doc.SetResolution({xDpi, yDpi}); }

    private:
        CVelomarkDoc& m_doc;
    };

    ImageSideAdapter m_imageSide{*this};
    velomark::PageResolution m_resolution;
    // The format Save As settled on, for the save it runs.
    std::optional<velomark::ImageFileFormat> m_saveFormat;
};
