#include "tests/client/ChildProcess.h"

#include <chrono>

namespace velomark::testing {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

FakeVelomark::~FakeVelomark() { Stop(); }

bool FakeVelomark::Start(const std::vector<std::string>& options, std::string& error) {
    std::vector<std::string> argv{m_program};
    argv.insert(argv.end(), m_arguments.begin(), m_arguments.end());
    argv.insert(argv.end(), options.begin(), options.end());
    m_child = std::make_unique<ChildProcess>(argv);
    std::string line;
    if (!m_child->Started() || !m_child->ReadLine(line, 10000) || line.rfind("ready ", 0) != 0) {
        error = m_program + " did not start (exit code " + std::to_string(Stop()) + ")";
        return false;
    }
    m_socketPath = line.substr(6);
    return true;
}

bool FakeVelomark::WaitForEvent(const std::string& prefix, int timeoutMs) {
    for (const std::string& event : m_events)
        if (event.rfind(prefix, 0) == 0) return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (m_child && m_child->ReadLine(line, MillisecondsLeft(deadline))) {
        m_events.push_back(line);
        if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool FakeVelomark::WaitForEvents(const std::string& prefix, int count, int timeoutMs) {
    auto matching = [&] {
        int n = 0;
        for (const std::string& event : m_events) n += event.rfind(prefix, 0) == 0;
        return n;
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (matching() < count) {
        if (!m_child || !m_child->ReadLine(line, MillisecondsLeft(deadline))) return false;
        m_events.push_back(line);
    }
    return true;
}

int FakeVelomark::Stop() {
    if (!m_child) return -1;
    m_child->CloseInput();
    if (m_stopSignal != 0) m_child->Signal(m_stopSignal);
    const int code = m_child->Wait(10000);
    // Keep what it said last, for a test that looks at its events afterwards.
    std::string line;
    while (m_child->ReadLine(line, 0)) m_events.push_back(line);
    m_child.reset();
    return code;
}

}  // namespace velomark::testing
