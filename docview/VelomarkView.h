// The scrolling view of one document: the image drawn at the top-left of a canvas
// whose scroll extent is the image size in pixels, unscaled unless the user zooms;
// the unscaled drawing prints.
#pragma once

#include <wx/docview.h>

class CVelomarkDoc;
class CVelomarkCanvas;

class CVelomarkView : public wxView {
    wxDECLARE_DYNAMIC_CLASS(CVelomarkView);

public:
    CVelomarkView() = default;

    bool OnCreate(wxDocument* doc, long flags) override;
    // Unscaled, one image pixel per device unit: printing and preview.
    void OnDraw(wxDC* dc) override;
    // The image at `zoom` on a DC of `deviceScale` device pixels per logical unit; only
    // the part inside the DC's clipping box is converted.
    void DrawImage(wxDC& dc, double zoom, int deviceScale) const;
    // The device pixels that DrawImage covers for an image of `image` pixels at `zoom`.
    static wxSize DrawnSize(wxSize image, double zoom);
    // The next zoom step in (`direction` 1) or out (-1) from `zoom`.
    static double NextZoomStep(double zoom, int direction);
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
    void BindZoomCommands();

    CVelomarkCanvas* m_canvas = nullptr;
};
