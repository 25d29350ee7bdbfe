// How a wx program carries a source's notifications to CTwain. The source posts to
// a MessageWindow from its own thread; the window's wake handler queues a call on the
// wx loop (CallAfter is safe from any thread), and that call, on the main thread,
// hands every queued message to CTwain::FilterMessage. The main frame does the same.
#pragma once

#include <wx/event.h>

#include "platform/Window.h"

class CTwain;

class TwainMessagePump : public wxEvtHandler {
public:
    explicit TwainMessagePump(CTwain& twain);
    TwainMessagePump(const TwainMessagePump&) = delete;
    TwainMessagePump& operator=(const TwainMessagePump&) = delete;

    // The window to give InitTwain: the source's notifications arrive here.
    HWND Handle() { return m_window.Handle(); }
    MessageWindow& Window() { return m_window; }

    // On the main thread: every message queued so far goes to the filter.
    void Drain();

private:
    CTwain& m_twain;
    // Destroyed before the wxEvtHandler part: once it is gone nothing can post, and
    // the handler's destructor then drops any Drain still queued.
    MessageWindow m_window;
};
