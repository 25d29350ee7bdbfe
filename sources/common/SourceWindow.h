// What every source's small modeless window shares: it stands above the application's
// top window, never waits (a timer on the window's thread shows the progress), asks
// the application to close the source from Close and from the title bar, and goes
// when its session dismisses it. Built into each source module (the toolkit's part).
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <initializer_list>

#include "sources/common/SourceUi.h"

class SourceSession;
class wxButton;
class wxPanel;
class wxSizer;

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
    // Lays the window out on `panel`: the settings, the progress bar, the status line,
    // then `buttons` on the right and Close (made here) last; the first is the default.
    void LayOut(wxPanel* panel, wxSizer* settings, wxWindow* gauge, wxWindow* status,
                std::initializer_list<wxButton*> buttons);

    static constexpr int kProgressPollMs = 100;

private:
    void OnCloseButton(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    SourceSession* m_session;  // null once dismissed
    wxTimer m_timer;
};
