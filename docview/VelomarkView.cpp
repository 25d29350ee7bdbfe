#include "docview/VelomarkView.h"

#include <wx/app.h>
#include <wx/log.h>
#include <wx/print.h>

#include <memory>

#include "docview/ChildFrame.h"
#include "docview/VelomarkCanvas.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkPrintout.h"
#include "platform/WxDcSurface.h"
#include "res/CommandMap.h"
#include "res/ResourceIds.h"

wxIMPLEMENT_DYNAMIC_CLASS(CVelomarkView, wxView);

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

void CVelomarkView::OnDraw(wxDC* dc) {
    const CVelomarkDoc* doc = GetDocument();
    if (!dc || !doc) return;
    const CDIB& dib = doc->m_dib;
    if (!dib.m_pBlock || dib.m_nWidth <= 0 || dib.m_nHeight <= 0) return;
    // The surface asks the DC for its clipping box, so only the visible part is converted.
    WxDcSurface surface(*dc);
    dib.Draw(&surface, 0, 0, dib.m_nWidth, dib.m_nHeight, 0, 0);
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
