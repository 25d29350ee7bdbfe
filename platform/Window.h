// Windows and posted messages. An HWND names a MessageWindow: an object with a
// thread-safe queue of posted messages. The program's main frame owns one and
// drains it from its event loop; tests drain one directly.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/WinTypes.h"

class MessageWindow;
typedef MessageWindow* HWND;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;  // milliseconds of a monotonic clock
    POINT pt;
};

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

class MessageWindow {
public:
    MessageWindow();
    virtual ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND Handle() { return this; }

    // Queues a message; may be called from any thread.
    void Post(UINT message, WPARAM wParam, LPARAM lParam);
    // Takes the oldest queued message without waiting; false when none is queued.
    bool Peek(MSG* msg);
    // Waits up to timeoutMs for a message; false when none came.
    bool Wait(MSG* msg, int timeoutMs);
    size_t QueuedCount();

    // Called on the posting thread after each Post, outside the queue's lock, so
    // that an event loop can be woken. Set it before other threads post.
    void SetWakeHandler(std::function<void()> wake) { m_wake = std::move(wake); }

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<MSG> m_queue;
    std::function<void()> m_wake;
};

// Milliseconds of the monotonic clock, as MSG::time carries them.
DWORD MessageTime();

extern "C" {
// TRUE while the handle names a live MessageWindow.
BOOL IsWindow(HWND hwnd);
// Queues a message for a live window from any thread; FALSE for a dead handle.
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
}
