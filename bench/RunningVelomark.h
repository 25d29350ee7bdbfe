// The real program started by a benchmark: build/bin/velomark beside the
// benchmark (the desktop program, or `velomark --headless`), unattended, with the
// test chart as default source (24-bit colour, the given resolution and pages per
// batch), a channel, socket folder and settings of its own. The desktop program
// needs a display: run under xvfb-run.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "client/velomark_client.h"

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline fs::path ProgramPath() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "velomark";
}

// A folder of the run's own (socket, settings, SANE's) under /tmp/velomark-<name>-*,
// a channel of its own, and the test chart as default source in 24-bit colour at
// `dpi`, all in the environment the program started next inherits. Empty when no
// folder could be made.
inline fs::path PrepareRun(const std::string& name, int dpi) {
    std::string folder = "/tmp/velomark-" + name + "-XXXXXX";
    if (!mkdtemp(folder.data())) return {};
    const fs::path path = folder;
    fs::create_directories(path / "sane");
    setenv("VELOMARK_CHANNEL_SUFFIX", ("-" + name + "-" + std::to_string(getpid())).c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("SANE_CONFIG_DIR", (path / "sane").c_str(), 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart", 1);
    setenv("VELOMARK_TESTCHART_TYPE", "rgb", 1);
    setenv("VELOMARK_TESTCHART_DPI", std::to_string(dpi).c_str(), 1);
    return path;
}

class RunningVelomark {
public:
    enum class Kind { Desktop, Headless };
    RunningVelomark(int dpi, int pages, Kind kind = Kind::Desktop) : m_kind(kind) {
        m_folder = PrepareRun("bench", dpi);
        if (m_folder.empty()) return;
        setenv("VELOMARK_UNATTENDED", "1", 1);
        setenv("VELOMARK_TESTCHART_PAGES", std::to_string(pages).c_str(), 1);
        const std::string program = ProgramPath().string();
        m_started = Clock::now();
        m_pid = fork();
        if (m_pid == 0) {
            if (kind == Kind::Headless)
                execl(program.c_str(), program.c_str(), "--headless", static_cast<char*>(nullptr));
            else
                execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (velomark_open(&m_client) != VELOMARK_OK) return;
        for (int i = 0; i < 200; ++i) {
            if (velomark_check_running(m_client, 100) == VELOMARK_OK) {
                m_ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~RunningVelomark() {
        if (m_client && m_ready && m_kind == Kind::Desktop)
            velomark_send_command(m_client, 57665, 1, 2000);  // Exit
        if (m_pid > 0 && m_kind == Kind::Headless) kill(m_pid, SIGTERM);
        if (m_client) velomark_close(m_client);
        if (m_pid > 0) {
            for (int i = 0; i < 100 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
            }
        }
        std::error_code ignored;
        if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
    }

    bool Ready() const { return m_ready; }
    pid_t Pid() const { return m_pid; }
    std::chrono::duration<double> SinceStart() const { return Clock::now() - m_started; }
    velomark_client* Client() const { return m_client; }

    // Status 2 to status 5, in seconds; negative when no image came.
    double Request(size_t* imageBytes) {
        const Clock::time_point start = Clock::now();
        if (velomark_request(m_client, VELOMARK_STATUS_ACQUIRE) != VELOMARK_OK) return -1;
        if (velomark_wait_image(m_client, 30000) != VELOMARK_OK) return -1;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        velomark_image_size(m_client, imageBytes);
        velomark_acknowledge(m_client);
        // The source closes after its batch; the next request finds it closed.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return seconds;
    }

private:
    Kind m_kind;
    Clock::time_point m_started = Clock::now();
    fs::path m_folder;
    pid_t m_pid = -1;
    velomark_client* m_client = nullptr;
    bool m_ready = false;
};

}  // namespace bench
