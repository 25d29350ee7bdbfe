#include "docview/VelomarkCanvas.h"

#include <wx/dcclient.h>
#include <wx/region.h>

#include "docview/VelomarkView.h"

CVelomarkCanvas::CVelomarkCanvas(CVelomarkView* view, wxWindow* parent)
    : wxScrolledCanvas(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                       wxHSCROLL | wxVSCROLL | wxFULL_REPAINT_ON_RESIZE),
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
