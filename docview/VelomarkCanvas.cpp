#include "docview/VelomarkCanvas.h"

#include <wx/dcclient.h>
#include <wx/region.h>
#include <wx/toplevel.h>

#include "docview/VelomarkView.h"

CVelomarkCanvas::CVelomarkCanvas(CVelomarkView* view, wxWindow* parent)
    // Born at its window's size: a tiny canvas with scroll bars upsets GTK's layout.
    : wxScrolledCanvas(parent, wxID_ANY, wxDefaultPosition, parent->GetClientSize(),
                       wxHSCROLL | wxVSCROLL),
      m_view(view) {
    SetBackgroundColour(*wxWHITE);
    SetScrollRate(kScrollStep, kScrollStep);
    SetImageExtent(100, 100);
    Bind(wxEVT_PAINT, &CVelomarkCanvas::OnPaint, this);
}

void CVelomarkCanvas::SetImageExtent(int width, int height) {
    m_extent = wxSize(width, height);
    SetVirtualSize(m_extent);
    Refresh();
}

void CVelomarkCanvas::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    DoPrepareDC(dc);
    if (!m_view) return;
    // The update region is in window coordinates; the view draws in image coordinates.
    for (wxRegionIterator rect(GetUpdateRegion()); rect; ++rect) {
        const wxPoint topLeft = CalcUnscrolledPosition(rect.GetRect().GetTopLeft());
        dc.SetClippingRegion(wxRect(topLeft, rect.GetRect().GetSize()));
        m_view->OnDraw(&dc);
        dc.DestroyClippingRegion();
    }
}

void CVelomarkCanvas::FocusWhenActive() {
    // Queued on the canvas itself: a canvas destroyed meanwhile drops the call.
    CallAfter([this] {
        auto* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(this));
        if (top && top->IsActive() && IsShownOnScreen()) SetFocus();
    });
}
