// The window of a view: a scrolled canvas whose virtual size is the image size in
// pixels. A paint draws through the view, once for each invalidated rectangle, so
// that only what became visible is converted.
#pragma once

#include <wx/scrolwin.h>

class CVelomarkView;

class CVelomarkCanvas : public wxScrolledCanvas {
public:
    // Pixels scrolled by one line (an arrow key, a step of the wheel).
    static constexpr int kScrollStep = 16;

    CVelomarkCanvas(CVelomarkView* view, wxWindow* parent);

    // The scroll extent: exactly the image, `width` x `height` pixels.
    void SetImageExtent(int width, int height);
    wxSize ImageExtent() const { return m_extent; }

    // Takes the keyboard focus at the next turn of the loop, if its top-level window
    // is the active one then.
    void FocusWhenActive();

    // The view is going away; later paints draw nothing.
    void ForgetView() { m_view = nullptr; }

private:
    void OnPaint(wxPaintEvent& event);

    CVelomarkView* m_view;
    wxSize m_extent;
};
