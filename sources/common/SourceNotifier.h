// Where an enabled session's notifications go: the application's window given at
// MSG_ENABLEDS, with the source's Id as lParam. A copy may post from any thread, so a
// worker takes one along instead of reaching back into its session.
#pragma once

#include "platform/Window.h"
#include "twain/DataSource.h"

struct SourceNotifier {
    HWND parent = nullptr;
    TW_UINT32 id = 0;

    // MSG_XFERREADY or MSG_CLOSEDSREQ; nothing once the window is gone.
    void Post(TW_UINT16 message) const {
        if (IsWindow(parent))
            PostMessage(parent, kSourceNotifyMessage, message, static_cast<LPARAM>(id));
    }
};
