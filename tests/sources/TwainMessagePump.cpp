#include "tests/sources/TwainMessagePump.h"

#include "twain/Twain.h"

TwainMessagePump::TwainMessagePump(CTwain& twain) : m_twain(twain) {
    // Set before any other thread can post: InitTwain has not seen the window yet.
    m_window.SetWakeHandler([this] { CallAfter(&TwainMessagePump::Drain); });
}

void TwainMessagePump::Drain() {
    MSG msg;
    while (m_window.Peek(&msg)) m_twain.FilterMessage(msg);
}
