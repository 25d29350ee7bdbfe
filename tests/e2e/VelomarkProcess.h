// The real Velomark program started by a test: its environment, the lines of its
// event log, the commands sent to its socket, its end and what it wrote on stderr.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velomark::e2e {

// Command ids the tests send (the frame's WM_COMMAND numbers).
constexpr uint16_t kCommandFileNew = 57600;
constexpr uint16_t kCommandFileOpen = 57601;
constexpr uint16_t kCommandFileClose = 57602;
constexpr uint16_t kCommandFileSave = 57603;
constexpr uint16_t kCommandAppExit = 57665;
constexpr uint16_t kCommandRecentFile1 = 57616;
constexpr uint16_t kCommandSelectSource = 32771;
constexpr uint16_t kCommandAcquire = 32772;

// What the socket answered: 0 dispatched, -1 refused, or kNoReply.
constexpr int64_t kNoReply = -100;

class VelomarkProcess {
public:
    // Logs, event log and stderr go into `folder`.
    explicit VelomarkProcess(std::string folder);
    ~VelomarkProcess();
    VelomarkProcess(const VelomarkProcess&) = delete;
    VelomarkProcess& operator=(const VelomarkProcess&) = delete;

    // The program to start instead of the build's.
    void SetProgram(std::string path) { m_program = std::move(path); }
    // `velomark --headless` instead of the desktop program: its events are the lines of
    // its stdout, and SIGTERM ends it.
    void SetHeadless(bool headless);
    bool Headless() const { return m_headless; }
    // Starts the program with the test's environment plus `extra` (which wins), and
    // the command-line arguments given.
    bool Start(const std::map<std::string, std::string>& extra, std::string& error,
               const std::vector<std::string>& arguments = {});

    // Waits until the event log holds `count` lines that start with `prefix`.
    bool WaitForEvents(const std::string& prefix, int count = 1, int timeoutMs = 30000) const;
    int CountEvents(const std::string& prefix) const;
    std::vector<std::string> Events() const;
    std::string EventText() const;  // every line, for failure messages

    // One WM_COMMAND over the socket (send mode waits for the handler to return).
    int64_t Send(uint16_t id, int timeoutMs = 30000) const;
    int64_t Post(uint16_t id) const;

    // File > Exit and the wait for the end: the exit code (-1: still running, then
    // killed).
    int ExitByMenu(int timeoutMs = 30000);
    // The orderly end of either kind: File > Exit, or SIGTERM for headless.
    int Stop(int timeoutMs = 30000);
    int WaitForEnd(int timeoutMs);
    bool IsRunning() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // Ends a program that is still running, by force.
    void Kill();

    std::string ErrorOutput() const;
    // The lines of stderr that belong to a sanitizer's report; empty when clean.
    std::string SanitizerReport() const;
    const std::string& SocketPath() const { return m_socketPath; }
    const std::string& EventLogPath() const { return m_eventLog; }

private:
    int64_t Call(uint16_t id, bool post, int timeoutMs) const;

    std::string m_program = VELOMARK_PROGRAM_PATH;
    std::string m_folder;
    std::string m_eventLog;
    std::string m_outPath;
    std::string m_errPath;
    std::string m_socketPath;
    pid_t m_pid = -1;
    bool m_headless = false;
};

}  // namespace velomark::e2e
