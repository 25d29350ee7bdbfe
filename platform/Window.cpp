#include "platform/Window.h"

#include <chrono>
#include <set>

namespace {

// Live windows. PostMessage holds this lock while it queues, so a window cannot
// be destroyed between the liveness check and the Post.
struct WindowRegistry {
    std::mutex mutex;
    std::set<const MessageWindow*> live;
};

WindowRegistry& Registry() {
    static WindowRegistry* registry = new WindowRegistry;  // outlives static destructors
    return *registry;
}

}  // namespace

DWORD MessageTime() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

MessageWindow::MessageWindow() {
    auto& reg = Registry();
    std::lock_guard lock(reg.mutex);
    reg.live.insert(this);
}

MessageWindow::~MessageWindow() {
    auto& reg = Registry();
    std::lock_guard lock(reg.mutex);
    reg.live.erase(this);
}

void MessageWindow::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(MSG{this, message, wParam, lParam, MessageTime(), POINT{0, 0}});
    }
    m_posted.notify_one();
    if (m_wake) m_wake();
}

bool MessageWindow::Peek(MSG* msg) {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return false;
    *msg = m_queue.front();
    m_queue.pop_front();
    return true;
}

bool MessageWindow::Wait(MSG* msg, int timeoutMs) {
    std::unique_lock lock(m_mutex);
    if (!m_posted.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !m_queue.empty(); }))
        return false;
    *msg = m_queue.front();
    m_queue.pop_front();
    return true;
}

size_t MessageWindow::QueuedCount() {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

BOOL IsWindow(HWND hwnd) {
    auto& reg = Registry();
    std::lock_guard lock(reg.mutex);
    return hwnd && reg.live.count(hwnd) ? TRUE : FALSE;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& reg = Registry();
    std::lock_guard lock(reg.mutex);
    if (!hwnd || !reg.live.count(hwnd)) return FALSE;
    hwnd->Post(message, wParam, lParam);
    return TRUE;
}
