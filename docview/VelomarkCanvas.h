// The window of a view: a scrolled canvas whose virtual size is the image size at the
// view's zoom, in the window's logical units (on a scaled display, content scale 2,
// half the image's pixels). A paint draws, for each invalidated rectangle, the
// tiles of the image at this zoom that it keeps, and converts through the view only
// those never shown at this zoom since the image last changed.
#pragma once

#include <wx/scrolwin.h>

#include <memory>

class CVelomarkView;
class ViewTileCache;

class CVelomarkCanvas : public wxScrolledCanvas {
public:
    // Pixels scrolled by one line (an arrow key, a step of the wheel).
    static constexpr int kScrollStep = 16;

    CVelomarkCanvas(CVelomarkView* view, wxWindow* parent);
    ~CVelomarkCanvas() override;

    // The image, new or changed, is `width` x `height` pixels; the scroll extent
    // follows it and the tiles of the one before are dropped.
    void SetImageExtent(int width, int height);
    wxSize ImageExtent() const { return m_extent; }

    // Image pixels are shown `zoom` device pixels wide (1: unscaled). The point at the
    // middle of the window stays where it is.
    void SetZoom(double zoom);
    double Zoom() const { return m_zoom; }
    // The zoom that makes the image as wide as the window.
    double FitWidthZoom() const;

    // Device pixels per logical unit of this window (2 on a display scaled twice).
    int DeviceScale() const;
    // The logical size of `image` pixels shown at `zoom` on a display of `deviceScale`.
    static wxSize LogicalExtent(wxSize image, double zoom, int deviceScale);

    // Takes the keyboard focus at the next turn of the loop, if its top-level window
    // is the active one then.
    void FocusWhenActive();

    // The view is going away; later paints draw nothing.
    void ForgetView();

    // Draws `area` (scrolled logical units) of the image on `dc`, prepared as the
    // paint DC is, from the tiles kept; the window's paint goes through it.
    void PaintArea(wxDC& dc, const wxRect& area);

private:
    void OnPaint(wxPaintEvent& event);
    void ApplyExtent();

    CVelomarkView* m_view;
    wxSize m_extent;
    double m_zoom = 1.0;
    std::unique_ptr<ViewTileCache> m_tiles;
};
