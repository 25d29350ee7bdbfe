// One image, one document: the document owns its CDIB. Acquired images reach it
// through the image hand-off (ImageSide()) and count as unsaved until they are
// saved or sent to the client; File Save writes the image as a BMP file and File
// Open reads one.
#pragma once

#include <wx/docview.h>

#include "bridge/ImageDocument.h"
#include "dib/Dib.h"

class CVelomarkDoc : public wxDocument {
    wxDECLARE_DYNAMIC_CLASS(CVelomarkDoc);

public:
    CVelomarkDoc();
    ~CVelomarkDoc() override;

    bool OnNewDocument() override;
    // Save writes the file again also when nothing changed since the last save.
    bool Save() override;

    // The page reached the client: closing it loses nothing, so no question.
    void MarkSentToClient() { Modify(false); }

    // What the image hand-off sees of this document.
    velomark::ImageDocument& ImageSide() { return m_imageSide; }

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

    private:
        CVelomarkDoc& m_doc;
    };

    ImageSideAdapter m_imageSide{*this};
};
