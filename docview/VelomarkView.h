// The scrolling view of one document: the image drawn unscaled at the top-left of
// a canvas whose scroll extent is the image size in pixels; the same drawing prints.
#pragma once

#include <wx/docview.h>

class CVelomarkDoc;
class CVelomarkCanvas;

class CVelomarkView : public wxView {
    wxDECLARE_DYNAMIC_CLASS(CVelomarkView);

public:
    CVelomarkView() = default;

    bool OnCreate(wxDocument* doc, long flags) override;
    void OnDraw(wxDC* dc) override;
    void OnUpdate(wxView* sender, wxObject* hint = nullptr) override;
    void OnActivateView(bool activate, wxView* activeView, wxView* deactiveView) override;
    bool OnClose(bool deleteWindow = true) override;
    wxPrintout* OnCreatePrintout() override;
    // Prints the one page on the current printer with the page setup of the document
    // manager, without the print dialog; false when nothing was printed.
    bool PrintWithoutDialog();

    CVelomarkDoc* GetDocument() const;
    CVelomarkCanvas* Canvas() const { return m_canvas; }

private:
    CVelomarkCanvas* m_canvas = nullptr;
};
