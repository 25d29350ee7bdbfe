// The stand-in programs' user-interface queue: the command server's threads put
// tasks in, the main loop runs them.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace velomark::testing {

class UiTaskQueue {
public:
    void Post(std::function<void()> task) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    // Runs what was queued so far, outside the lock: a task may queue another.
    void RunQueued() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            tasks.swap(m_tasks);
        }
        for (auto& task : tasks) task();
    }

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
};

}  // namespace velomark::testing
