// The MDI child window of one document: a tab of the main frame, with a close
// button that asks about an unsaved page as File > Close does.
#pragma once

#include <wx/defs.h>  // before tabmdi.h, which tests wxUSE_AUI first
#include <wx/aui/tabmdi.h>
#include <wx/docview.h>

using CChildFrameBase = wxDocChildFrameAny<wxAuiMDIChildFrame, wxAuiMDIParentFrame>;

class CChildFrame : public CChildFrameBase {
public:
    CChildFrame(wxDocument* doc, wxView* view, wxAuiMDIParentFrame* parent);

    // A tab that becomes the selected one takes the focus, and activating the
    // selected one focuses its tab row; for either the toolkit raises an inactive
    // main window. A page that arrives while the person works in another window (a
    // source's, say) must not pull the main window over it.
    void SetFocus() override;
    void Activate() override;

#ifdef __WXGTK__
    // A tab is a plain GTK widget: the top-level window's handling of its
    // realisation (resize grip, decorations) does not apply and makes GTK complain.
    void GTKHandleRealized() override { wxWindow::GTKHandleRealized(); }
#endif
};
