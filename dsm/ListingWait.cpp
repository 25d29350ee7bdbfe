#include "dsm/ListingWait.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/utils.h>

bool ListingWait::KeepsUiRunning() {
    wxAppConsole* app = wxAppConsole::GetInstance();
    return app && app->IsGUI() && wxThread::IsMain();
}

void ListingWait::RunUiUntil(const std::function<bool()>& done) {
    if (done()) return;
    wxBusyCursor busy;
    // No command may start while the DSM is in the middle of answering one.
    wxWindowDisabler disabler;
    // A loop of its own, as a modal dialog's: the program takes up no request from
    // its main loop's hooks meanwhile.
    wxGUIEventLoop loop;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (done()) loop.ScheduleExit();
    });
    poll.Start(kPollMs);
    loop.Run();
}
