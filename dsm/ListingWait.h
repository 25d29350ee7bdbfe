// Waiting for a listing on the user-interface thread without freezing the program:
// the toolkit's event loop keeps running (windows repaint, timers and posted work
// run) while the program's windows take no input, as under a modal dialog. Its
// interface carries no wx types, so the rest of the DSM builds without wx headers.
#pragma once

#include <functional>

class ListingWait {
public:
    // True where a wait must keep a user interface running: the main thread of a
    // wx GUI application.
    static bool KeepsUiRunning();
    // Runs an event loop of its own, the windows disabled and a busy cursor shown,
    // until `done` is true; `done` is asked every few milliseconds.
    static void RunUiUntil(const std::function<bool()>& done);

    static constexpr int kPollMs = 10;
};
