#include "docview/VelomarkView.h"

#include <wx/app.h>
#include <wx/log.h>
#include <wx/print.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "docview/ChildFrame.h"
#include "docview/VelomarkCanvas.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkPrintout.h"
#include "platform/WxDcSurface.h"
#include "res/CommandMap.h"
#include "res/ResourceIds.h"

wxIMPLEMENT_DYNAMIC_CLASS(CVelomarkView, wxView);

namespace {

constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3,
                                 1.0,      1.5,     2.0,     3.0,     4.0,     6.0,     8.0};
// Zooms closer than this count as the same step.
constexpr double kSameZoom = 1e-6;

}  // namespace

double CVelomarkView::NextZoomStep(double zoom, int direction) {
    if (direction > 0) {
        for (double step : kZoomSteps)
            if (step > zoom + kSameZoom) return step;
        return std::end(kZoomSteps)[-1];
    }
    for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
        if (*it < zoom - kSameZoom) return *it;
    return kZoomSteps[0];
}

bool CVelomarkView::OnCreate(wxDocument* doc, long flags) {
    if (!wxView::OnCreate(doc, flags)) return false;
    // dynamic_cast, not wxDynamicCast: the macro's downcast trips UBSan on another type.
    auto* parent = dynamic_cast<wxAuiMDIParentFrame*>(wxTheApp->GetTopWindow());
    if (!parent) {
        wxLogError("Cannot show \"%s\": the main window is missing.", doc->GetUserReadableName());
        return false;
    }
    auto* frame = new CChildFrame(doc, this, parent);
    m_canvas = new CVelomarkCanvas(this, frame);
    SetFrame(frame);
    // The print commands reach the active view through the document manager; the
    // dialog-less one is the view's own.
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { PrintWithoutDialog(); },
        velomark::res::ToolkitId(velomark::res::ID_FILE_PRINT_DIRECT));
    BindZoomCommands();
    frame->Show(true);
    return true;
}

void CVelomarkView::OnActivateView(bool activate, wxView* activeView, wxView* deactiveView) {
    wxView::OnActivateView(activate, activeView, deactiveView);
    // The active document's canvas takes the keys: scrolling, and the frame's
    // accelerators, which the toolkit offers only to a window with the focus. Later,
    // not while the window is being shown, and only while the program's window is
    // the active one, so that a document arriving does not take the keyboard from
    // the window the user is working in (a source's, say).
    if (activate && m_canvas) m_canvas->FocusWhenActive();
}

CVelomarkDoc* CVelomarkView::GetDocument() const {
    return dynamic_cast<CVelomarkDoc*>(wxView::GetDocument());
}

void CVelomarkView::BindZoomCommands() {
    using namespace velomark::res;
    const auto zoomTo = [this](auto zoomOf) {
        return [this, zoomOf](wxCommandEvent&) {
            if (m_canvas) m_canvas->SetZoom(zoomOf(m_canvas->Zoom()));
        };
    };
    Bind(wxEVT_MENU, zoomTo([](double z) { return NextZoomStep(z, 1); }),
         ToolkitId(ID_VIEW_ZOOM_IN));
    Bind(wxEVT_MENU, zoomTo([](double z) { return NextZoomStep(z, -1); }),
         ToolkitId(ID_VIEW_ZOOM_OUT));
    Bind(wxEVT_MENU, zoomTo([](double) { return 1.0; }), ToolkitId(ID_VIEW_ZOOM_ACTUAL));
    Bind(wxEVT_MENU, zoomTo([this](double) { return m_canvas->FitWidthZoom(); }),
         ToolkitId(ID_VIEW_ZOOM_FIT_WIDTH));
    for (unsigned id :
         {ID_VIEW_ZOOM_IN, ID_VIEW_ZOOM_OUT, ID_VIEW_ZOOM_ACTUAL, ID_VIEW_ZOOM_FIT_WIDTH}) {
        Bind(
            wxEVT_UPDATE_UI,
            [this](wxUpdateUIEvent& event) {
                const CVelomarkDoc* doc = GetDocument();
                event.Enable(m_canvas && doc && doc->m_dib.m_pBlock);
            },
            ToolkitId(id));
    }
}

void CVelomarkView::OnDraw(wxDC* dc) {
    if (dc) DrawImage(*dc, 1.0, 1);
}

void CVelomarkView::DrawImage(wxDC& dc, double zoom, int deviceScale) const {
    const CVelomarkDoc* doc = GetDocument();
    if (!doc) return;
    const CDIB& dib = doc->m_dib;
    if (!dib.m_pBlock || dib.m_nWidth <= 0 || dib.m_nHeight <= 0) return;
    // The surface asks the DC for its clipping box, so only the visible part is converted.
    WxDcSurface surface(dc, deviceScale);
    if (std::fabs(zoom - 1.0) < kSameZoom) {
        dib.Draw(&surface, 0, 0, dib.m_nWidth, dib.m_nHeight, 0, 0);
        return;
    }
    const wxSize drawn = DrawnSize(wxSize(dib.m_nWidth, dib.m_nHeight), zoom);
    dib.StretchDraw(&surface, 0, 0, drawn.x, drawn.y, 0, 0, dib.m_nWidth, dib.m_nHeight);
}

wxSize CVelomarkView::DrawnSize(wxSize image, double zoom) {
    if (image.x <= 0 || image.y <= 0) return wxSize(0, 0);
    if (std::fabs(zoom - 1.0) < kSameZoom) return image;
    return wxSize(std::max(1, int(std::lround(image.x * zoom))),
                  std::max(1, int(std::lround(image.y * zoom))));
}

void CVelomarkView::OnUpdate(wxView*, wxObject*) {
    const CVelomarkDoc* doc = GetDocument();
    if (!m_canvas || !doc) return;
    const CDIB& dib = doc->m_dib;
    if (dib.m_pBlock) {
        m_canvas->SetImageExtent(dib.m_nWidth, dib.m_nHeight);
    } else {
        m_canvas->SetImageExtent(0, 0);
    }
}

bool CVelomarkView::OnClose(bool deleteWindow) {
    if (!wxView::OnClose(deleteWindow)) return false;
    Activate(false);
    if (m_canvas) m_canvas->ForgetView();
    m_canvas = nullptr;
    if (deleteWindow && GetFrame()) {
        GetFrame()->Destroy();
        SetFrame(nullptr);
    }
    return true;
}

wxPrintout* CVelomarkView::OnCreatePrintout() {
    const CVelomarkDoc* doc = GetDocument();
    return new CVelomarkPrintout(this, doc ? doc->GetUserReadableName() : wxString());
}

bool CVelomarkView::PrintWithoutDialog() {
    std::unique_ptr<wxPrintout> printout(OnCreatePrintout());
    wxDocManager* manager = GetDocumentManager();
    wxPrintDialogData printData;
    if (manager) printData = wxPrintDialogData(manager->GetPageSetupDialogData().GetPrintData());
    wxPrinter printer(&printData);
    return printer.Print(GetFrame(), printout.get(), false);
}
