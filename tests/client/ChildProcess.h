// The stand-in Velomark that the client tests start beside them until they end it.
// (Programs in general: tests/ProgramRun.h.)
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/ProgramRun.h"

namespace velomark::testing {

// fake-velomark (or a program that speaks the same lines, such as `velomark
// --headless`), started in the test's environment (channel suffix, runtime folder).
// `arguments` go before Start's options; a program that runs until a signal gets
// `stopSignal` when it is stopped.
class FakeVelomark {
public:
    explicit FakeVelomark(std::string program = FAKE_VELOMARK_PATH,
                          std::vector<std::string> arguments = {}, int stopSignal = 0)
        : m_program(std::move(program)),
          m_arguments(std::move(arguments)),
          m_stopSignal(stopSignal) {}
    ~FakeVelomark();
    // Starts it with the options and waits for its "ready" line; false with the
    // program's own words in `error` when it did not come.
    bool Start(const std::vector<std::string>& options, std::string& error);
    // Waits up to timeoutMs for an event line that starts with `prefix`.
    bool WaitForEvent(const std::string& prefix, int timeoutMs = 5000);
    // Waits until `count` event lines in all start with `prefix`.
    bool WaitForEvents(const std::string& prefix, int count, int timeoutMs = 5000);
    // Closes its input (and sends the stop signal), which ends it, and returns its
    // exit code.
    int Stop();
    const std::vector<std::string>& Events() const { return m_events; }
    const std::string& SocketPath() const { return m_socketPath; }

private:
    std::string m_program;
    std::vector<std::string> m_arguments;
    int m_stopSignal = 0;
    std::unique_ptr<ChildProcess> m_child;
    std::string m_socketPath;
    std::vector<std::string> m_events;
};

}  // namespace velomark::testing
