#include "docview/ChildFrame.h"

namespace {

// The area a child will fill: until GTK lays out the new tab the child is tiny, and
// a tiny window with scroll bars upsets GTK's layout.
wxSize ChildAreaOf(wxMDIParentFrame* parent) {
    wxWindow* area = parent ? parent->GetClientWindow() : nullptr;
    return area ? area->GetClientSize() : wxDefaultSize;
}

}  // namespace

CChildFrame::CChildFrame(wxDocument* doc, wxView* view, wxMDIParentFrame* parent)
    : wxDocMDIChildFrame(doc, view, parent, wxID_ANY, doc->GetUserReadableName(), wxDefaultPosition,
                         ChildAreaOf(parent)) {}
