#include "tests/sources/WindowDriver.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/spinctrl.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

namespace WindowDriver {

namespace {

using Clock = std::chrono::steady_clock;

// A nested loop that a timer ends once the condition holds or the deadline passes.
class LoopRunner : public wxTimer {
public:
    LoopRunner(const std::function<bool()>& done, Clock::time_point deadline)
        : m_done(done), m_deadline(deadline) {}

    void Run() {
        Start(10);
        m_loop.Run();
        Stop();
    }

private:
    void Notify() override {
        if (m_loop.IsRunning() && (m_done() || Clock::now() >= m_deadline)) m_loop.Exit();
    }

    const std::function<bool()>& m_done;
    Clock::time_point m_deadline;
    wxGUIEventLoop m_loop;
};

}  // namespace

bool RunUntil(const std::function<bool()>& done, Clock::duration timeout) {
    if (done()) return true;
    LoopRunner(done, Clock::now() + timeout).Run();
    return done();
}

void RunFor(Clock::duration time) {
    RunUntil([] { return false; }, time);
}

bool Exists(const wxWindow* window) {
    for (const wxWindow* live : wxTopLevelWindows)
        if (live == window) return true;
    return false;
}

wxButton* FindButton(wxWindow* root, const wxString& text) {
    return FindControl<wxButton>(root, [&](wxButton& b) { return b.GetLabelText() == text; });
}

wxChoice* FindChoice(wxWindow* root, const wxString& entry) {
    return FindControl<wxChoice>(root,
                                 [&](wxChoice& c) { return c.FindString(entry) != wxNOT_FOUND; });
}

wxSpinCtrl* FindSpin(wxWindow* root, int max) {
    return FindControl<wxSpinCtrl>(root, [&](wxSpinCtrl& s) { return s.GetMax() == max; });
}

void Press(wxButton& button) {
    ASSERT_TRUE(button.IsShownOnScreen());
    ASSERT_TRUE(button.IsEnabled());
    wxCommandEvent click(wxEVT_BUTTON, button.GetId());
    click.SetEventObject(&button);
    button.HandleWindowEvent(click);
}

void Click(wxButton& button) {
    ASSERT_TRUE(button.IsShownOnScreen());
    ASSERT_TRUE(button.IsEnabled());
    const wxRect area = button.GetScreenRect();
    wxUIActionSimulator mouse;
    ASSERT_TRUE(mouse.MouseMove(area.x + area.width / 2, area.y + area.height / 2));
    RunFor(std::chrono::milliseconds(50));
    ASSERT_TRUE(mouse.MouseClick());
}

void Choose(wxChoice& choice, const wxString& entry) {
    const int index = choice.FindString(entry);
    ASSERT_NE(index, wxNOT_FOUND) << entry;
    choice.SetSelection(index);
    wxCommandEvent chosen(wxEVT_CHOICE, choice.GetId());
    chosen.SetEventObject(&choice);
    chosen.SetInt(index);
    chosen.SetString(entry);
    choice.HandleWindowEvent(chosen);
}

}  // namespace WindowDriver
