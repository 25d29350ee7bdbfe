// What the command-socket tests share: a thread that stands in for the user-
// interface thread, raw connections, and a socket folder of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridge/CommandServer.h"
#include "bridge/CommandSocketClient.h"

namespace velomark::testing {

// Runs queued tasks in order on its own thread, like a frame's event loop. While
// held, tasks wait in the queue; RunHeld runs them on the caller's thread.
class UiThreadTarget : public CommandTarget {
public:
    UiThreadTarget() : m_thread([this] { Loop(); }) {}
    ~UiThreadTarget() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void RunOnUiThread(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_all();
    }
    bool ExecuteCommand(uint16_t id) override {
        if (onExecute) onExecute(id);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_executed.push_back(id);
        return m_enabled.count(id) > 0;
    }

    bool AcceptsStreams() override { return acceptStreams; }

    void Enable(uint16_t id) { m_enabled.insert(id); }
    bool acceptStreams = false;
    void Hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = true;
    }
    size_t RunHeld() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            tasks.swap(m_tasks);
        }
        for (auto& task : tasks) task();
        return tasks.size();
    }
    size_t QueuedCount() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tasks.size();
    }
    std::vector<uint16_t> Executed() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_executed;
    }
    // Waits until `count` commands have run.
    bool WaitExecuted(size_t count, int timeoutMs = 5000) {
        for (int waited = 0; waited < timeoutMs; ++waited) {
            if (Executed().size() >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // Called on the UI thread before a command is recorded.
    std::function<void(uint16_t)> onExecute;

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || (!m_held && !m_tasks.empty()); });
            if (m_quit) return;
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::vector<uint16_t> m_executed;
    std::set<uint16_t> m_enabled;
    bool m_held = false;
    bool m_quit = false;
    std::thread m_thread;
};

// A socket folder and section suffix of the test's own.
class CommandSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/velomark-socket-test-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        std::string suffix = "-socket-" + std::to_string(getpid());
        setenv("VELOMARK_CHANNEL_SUFFIX", suffix.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_folder.c_str(), 1);
        m_path = m_folder + "/velomark" + suffix + ".sock";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        unsetenv("VELOMARK_CHANNEL_SUFFIX");
        unsetenv("XDG_RUNTIME_DIR");
    }
    // The streams the servers of a test register with.
    StreamHub m_streams;

    static CommandRequest Request(uint16_t id, uint32_t mode = COMMAND_SEND) {
        CommandRequest request;
        request.mode = mode;
        request.wParam = id;
        return request;
    }

    // One request on a new connection: the reply, or the failure as -100 - result.
    int64_t CallOnce(const CommandRequest& request, int timeoutMs = 5000) {
        CommandSocketClient client;
        if (client.Connect(m_path, timeoutMs) != CommandCallResult::Replied) return -100;
        int64_t reply = 0;
        CommandCallResult result = client.Call(request, timeoutMs, reply);
        return result == CommandCallResult::Replied ? reply : -100 - static_cast<int>(result);
    }

    // Leaves a socket file that nobody listens on, as a crashed server would.
    void LeaveStaleSocketFile() {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, m_path.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        close(fd);
    }

    std::string m_folder;
    std::string m_path;
};

}  // namespace velomark::testing
