// The MDI child window of one document (a tab of the main frame on GTK).
#pragma once

#include <wx/docmdi.h>

class CChildFrame : public wxDocMDIChildFrame {
public:
    CChildFrame(wxDocument* doc, wxView* view, wxMDIParentFrame* parent);
};
