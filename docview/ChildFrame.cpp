#include "docview/ChildFrame.h"

#include <wx/toplevel.h>

namespace {

// The area a child will fill: until the new tab is laid out the child is tiny, and
// a tiny window with scroll bars upsets GTK's layout.
wxSize ChildAreaOf(wxAuiMDIParentFrame* parent) {
    wxWindow* area = parent ? parent->GetClientWindow() : nullptr;
    return area ? area->GetClientSize() : wxDefaultSize;
}

bool IsMainWindowActive(wxWindow* child) {
    auto* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(child));
    return !top || top->IsActive();
}

}  // namespace

CChildFrame::CChildFrame(wxDocument* doc, wxView* view, wxAuiMDIParentFrame* parent) {
    // Created here rather than by the base constructor, so that the window's creation
    // already calls this class's overrides.
    Create(doc, view, parent, wxID_ANY, doc->GetUserReadableName(), wxDefaultPosition,
           ChildAreaOf(parent));
}

void CChildFrame::SetFocus() {
    if (IsMainWindowActive(this)) CChildFrameBase::SetFocus();
}

void CChildFrame::Activate() {
    wxAuiMDIParentFrame* parent = GetMDIParentFrame();
    if (parent && parent->GetActiveChild() == this && !IsMainWindowActive(this)) return;
    CChildFrameBase::Activate();
}
