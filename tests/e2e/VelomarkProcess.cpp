#include "tests/e2e/VelomarkProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "bridge/CommandSocketClient.h"
#include "tests/ProgramRun.h"

extern char** environ;

namespace velomark::e2e {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kEventPoll = std::chrono::milliseconds(20);

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The test's environment with `extra` laid over it.
std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : extra) merged[name] = value;
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
    return result;
}

}  // namespace

VelomarkProcess::VelomarkProcess(std::string folder)
    : m_folder(std::move(folder)),
      m_eventLog(m_folder + "/events.log"),
      m_outPath(m_folder + "/velomark.out"),
      m_errPath(m_folder + "/velomark.err") {}

VelomarkProcess::~VelomarkProcess() { Kill(); }

void VelomarkProcess::SetHeadless(bool headless) {
    m_headless = headless;
    m_eventLog = m_folder + (headless ? "/velomark.out" : "/events.log");
}

bool VelomarkProcess::Start(const std::map<std::string, std::string>& extra, std::string& error,
                            const std::vector<std::string>& arguments) {
    std::map<std::string, std::string> environment = extra;
    environment["VELOMARK_EVENT_LOG"] = m_eventLog;
    std::vector<std::string> command = {m_program};
    if (m_headless) command.push_back("--headless");
    command.insert(command.end(), arguments.begin(), arguments.end());
    m_pid = testing::SpawnProgram(command, EnvironmentWith(environment), m_outPath, m_errPath);
    if (m_pid < 0) {
        error = "cannot start " + m_program;
        return false;
    }
    return true;
}

std::vector<std::string> VelomarkProcess::Events() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadWholeFile(m_eventLog));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

std::string VelomarkProcess::EventText() const { return ReadWholeFile(m_eventLog); }

int VelomarkProcess::CountEvents(const std::string& prefix) const {
    int count = 0;
    for (const std::string& line : Events()) count += StartsWith(line, prefix);
    return count;
}

bool VelomarkProcess::WaitForEvents(const std::string& prefix, int count, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (CountEvents(prefix) >= count) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kEventPoll);
    }
}

int64_t VelomarkProcess::Call(uint16_t id, bool post, int timeoutMs) const {
    std::string path;
    for (const std::string& line : Events())
        if (StartsWith(line, "ready ")) path = line.substr(6);
    if (path.empty() || path == "-") return kNoReply;
    CommandSocketClient client;
    if (client.Connect(path, timeoutMs) != CommandCallResult::Replied) return kNoReply;
    CommandRequest request;
    request.mode = post ? COMMAND_POST : COMMAND_SEND;
    request.wParam = id;
    int64_t reply = kNoReply;
    if (client.Call(request, timeoutMs, reply) != CommandCallResult::Replied) return kNoReply;
    return reply;
}

int64_t VelomarkProcess::Send(uint16_t id, int timeoutMs) const {
    return Call(id, false, timeoutMs);
}

int64_t VelomarkProcess::Post(uint16_t id) const { return Call(id, true, 10000); }

int VelomarkProcess::ExitByMenu(int timeoutMs) {
    // Posted: the program closes the connection as it ends, which is no answer.
    Post(kCommandAppExit);
    return WaitForEnd(timeoutMs);
}

int VelomarkProcess::Stop(int timeoutMs) {
    if (!m_headless) return ExitByMenu(timeoutMs);
    if (m_pid > 0) kill(m_pid, SIGTERM);
    return WaitForEnd(timeoutMs);
}

int VelomarkProcess::WaitForEnd(int timeoutMs) {
    if (m_pid < 0) return -1;
    const int code = testing::WaitForExit(m_pid, timeoutMs);
    if (code == -1) {
        Kill();
        return -1;
    }
    m_pid = -1;
    return code;
}

void VelomarkProcess::Kill() {
    if (m_pid < 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string VelomarkProcess::ErrorOutput() const { return ReadWholeFile(m_errPath); }

std::string VelomarkProcess::SanitizerReport() const {
    static const char* const kMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                         "runtime error:", "SUMMARY: "};
    std::string report;
    std::istringstream text(ErrorOutput());
    for (std::string line; std::getline(text, line);)
        for (const char* mark : kMarks)
            if (line.find(mark) != std::string::npos) {
                report += line + "\n";
                break;
            }
    return report;
}

}  // namespace velomark::e2e
