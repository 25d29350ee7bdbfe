// The status bar's lock-key panes: "CAP", "NUM" and "SCRL" shown while the key's
// lock is on, blank while it is off.
#pragma once

class wxStatusBar;

namespace velomark {

class KeyIndicators {
public:
    // The panes after the message pane, in this order.
    static constexpr int kFirstPane = 1;
    static constexpr int kPaneCount = 3;

    // Gives the status bar its four panes: the stretching message pane and the three
    // indicators, each wide enough for its text.
    static void SetIndicators(wxStatusBar& bar);

    // Reads the lock keys and rewrites the panes that changed.
    void Update(wxStatusBar& bar);

private:
    int m_shown[kPaneCount] = {-1, -1, -1};
};

}  // namespace velomark
