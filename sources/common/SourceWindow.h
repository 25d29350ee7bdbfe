// What every source's small modeless window shares: it stands above the application's
// top window, never waits (a timer on the window's thread shows the progress), asks
// the application to close the source from Close and from the title bar, and goes
// when its session dismisses it. Built into each source module (the toolkit's part).
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include "sources/common/SourceUi.h"

class SourceSession;

class SourceWindow : public wxFrame, public SourceUi {
public:
    ~SourceWindow() override;
    void Dismiss() override;

protected:
    SourceWindow(SourceSession& session, const wxString& title,
                 const wxString& name = wxASCII_STR(wxFrameNameStr));
    // Shows the window, built, and brings it up.
    void ShowAbove();
    // Called every kProgressPollMs while the window is up.
    virtual void ShowProgress() = 0;
    // The Close button's handler.
    void OnCloseButton(wxCommandEvent& event);

    static constexpr int kProgressPollMs = 100;

private:
    void OnCloseWindow(wxCloseEvent& event);

    SourceSession* m_session;  // null once dismissed
    wxTimer m_timer;
};
