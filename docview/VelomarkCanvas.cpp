#include "docview/VelomarkCanvas.h"

#include <wx/dcclient.h>
#include <wx/region.h>
#include <wx/settings.h>
#include <wx/toplevel.h>

#include <algorithm>
#include <cmath>

#include "docview/VelomarkView.h"
#include "docview/ViewTileCache.h"

CVelomarkCanvas::CVelomarkCanvas(CVelomarkView* view, wxWindow* parent)
    // Born at its window's size: a tiny canvas with scroll bars upsets GTK's layout.
    : wxScrolledCanvas(parent, wxID_ANY, wxDefaultPosition, parent->GetClientSize(),
                       wxHSCROLL | wxVSCROLL),
      m_view(view),
      m_tiles(std::make_unique<ViewTileCache>()) {
    SetBackgroundColour(*wxWHITE);
    SetScrollRate(kScrollStep, kScrollStep);
    SetImageExtent(0, 0);  // an empty document has nothing to scroll
    Bind(wxEVT_PAINT, &CVelomarkCanvas::OnPaint, this);
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        ApplyExtent();
        event.Skip();
    });
}

CVelomarkCanvas::~CVelomarkCanvas() = default;

void CVelomarkCanvas::ForgetView() {
    m_view = nullptr;
    m_tiles->Drop();
}

int CVelomarkCanvas::DeviceScale() const {
    return std::max(1, int(std::lround(GetContentScaleFactor())));
}

wxSize CVelomarkCanvas::LogicalExtent(wxSize image, double zoom, int deviceScale) {
    const double perPixel = zoom / std::max(1, deviceScale);
    return wxSize(int(std::ceil(image.x * perPixel - 1e-9)),
                  int(std::ceil(image.y * perPixel - 1e-9)));
}

void CVelomarkCanvas::SetImageExtent(int width, int height) {
    m_extent = wxSize(width, height);
    m_tiles->Drop();
    ApplyExtent();
}

void CVelomarkCanvas::ApplyExtent() {
    SetVirtualSize(LogicalExtent(m_extent, m_zoom, DeviceScale()));
    Refresh();
}

void CVelomarkCanvas::SetZoom(double zoom) {
    if (!(zoom > 0) || zoom == m_zoom) return;
    const wxSize client = GetClientSize();
    const wxPoint middle = CalcUnscrolledPosition(wxPoint(client.x / 2, client.y / 2));
    const double ratio = zoom / m_zoom;
    m_zoom = zoom;
    ApplyExtent();
    const int x = int(std::lround(middle.x * ratio)) - client.x / 2;
    const int y = int(std::lround(middle.y * ratio)) - client.y / 2;
    Scroll(std::max(0, x / kScrollStep), std::max(0, y / kScrollStep));
}

double CVelomarkCanvas::FitWidthZoom() const {
    if (m_extent.x <= 0 || m_extent.y <= 0) return 1.0;
    const wxSize client = GetClientSize();
    int width = client.x;
    // A page taller than the window brings a vertical scroll bar, which takes its width.
    const bool barShown = GetSize().x > client.x;
    if (!barShown && double(m_extent.y) * width / m_extent.x > client.y)
        width -= wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this);
    return double(std::max(1, width)) * DeviceScale() / m_extent.x;
}

void CVelomarkCanvas::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    DoPrepareDC(dc);
    if (!m_view) return;
    // The update region is in window coordinates; the tiles are in scrolled ones.
    for (wxRegionIterator rect(GetUpdateRegion()); rect; ++rect) {
        const wxRect area(CalcUnscrolledPosition(rect.GetRect().GetTopLeft()),
                          rect.GetRect().GetSize());
        dc.SetClippingRegion(area);
        PaintArea(dc, area);
        dc.DestroyClippingRegion();
    }
}

void CVelomarkCanvas::PaintArea(wxDC& dc, const wxRect& area) {
    if (!m_view) return;
    const wxSize drawn = CVelomarkView::DrawnSize(m_extent, m_zoom);
    // A tile's DC has one unit per device pixel: the view draws it unscaled by the display.
    m_tiles->Paint(dc, area, m_zoom, DeviceScale(), drawn,
                   [this](wxDC& tile) { m_view->DrawImage(tile, m_zoom, 1); });
}

void CVelomarkCanvas::FocusWhenActive() {
    // Queued on the canvas itself: a canvas destroyed meanwhile drops the call.
    CallAfter([this] {
        auto* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(this));
        if (top && top->IsActive() && IsShownOnScreen()) SetFocus();
    });
}
