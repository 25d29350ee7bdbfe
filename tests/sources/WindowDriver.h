// Driving a wx application from a test that runs inside its main loop: running the
// loop until something holds, finding controls in a window, and using them.
#pragma once

#include <gtest/gtest.h>
#include <wx/window.h>

#include <chrono>
#include <functional>

class wxButton;
class wxChoice;
class wxSpinCtrl;

namespace WindowDriver {

constexpr std::chrono::seconds kStepTimeout{20};

// Runs the wx loop, nested in the caller, until done() holds or the time is up;
// returns done().
bool RunUntil(const std::function<bool()>& done,
              std::chrono::steady_clock::duration timeout = kStepTimeout);
void RunFor(std::chrono::steady_clock::duration time);

// Whether a top-level window still exists, even hidden or waiting for deletion, asked
// without touching it: its code may have been unloaded.
bool Exists(const wxWindow* window);

// The first control of the type under root (at any depth) that match accepts.
template <typename Control>
Control* FindControl(wxWindow* root, const std::function<bool(Control&)>& match) {
    for (wxWindow* child : root->GetChildren()) {
        auto* control = dynamic_cast<Control*>(child);
        if (control && match(*control)) return control;
        if (Control* inner = FindControl<Control>(child, match)) return inner;
    }
    return nullptr;
}
wxButton* FindButton(wxWindow* root, const wxString& text);
wxChoice* FindChoice(wxWindow* root, const wxString& entry);  // the one offering entry
wxSpinCtrl* FindSpin(wxWindow* root, int max);                // the one whose range ends at max

// A click handed straight to the button, as its handler receives one.
void Press(wxButton& button);
// A click through the X server, as a person makes it (Xvfb has the XTest extension).
void Click(wxButton& button);
// Selects entry and sends the choice's event.
void Choose(wxChoice& choice, const wxString& entry);

}  // namespace WindowDriver
