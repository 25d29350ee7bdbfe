// The MDI child window of one document: a tab of the main frame, with a close
// button that asks about an unsaved page as File > Close does.
#pragma once

#include <wx/aui/tabmdi.h>
#include <wx/docview.h>

using CChildFrameBase = wxDocChildFrameAny<wxAuiMDIChildFrame, wxAuiMDIParentFrame>;

class CChildFrame : public CChildFrameBase {
public:
    CChildFrame(wxDocument* doc, wxView* view, wxAuiMDIParentFrame* parent);
};
