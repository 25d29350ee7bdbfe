// Running another program from a test: to completion with its output captured, in
// the background with its output going to files, or beside the test with lines to and
// from it (ChildProcess). The one place the tests start programs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velomark::testing {

struct ProgramOutput {
    int exitCode = -1;  // -1 when it was killed or did not end in time
    std::string out;
    std::string err;
};

// Runs argv (argv[0] a path, or a name looked up on PATH) in the test's environment
// and kills it after timeoutMs.
ProgramOutput RunProgram(const std::vector<std::string>& argv, int timeoutMs = 20000);

// Starts argv with the environment `environment` (NAME=value entries), standard
// input from /dev/null and the two outputs appended to the files; -1 on failure.
pid_t SpawnProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, const std::string& outPath,
                   const std::string& errPath);

// Waits up to timeoutMs for the child to end: its exit code, 128 + the signal that
// ended it, or -1 when it still runs.
int WaitForExit(pid_t pid, int timeoutMs);

// A program beside the test, in the test's environment, its standard input and output
// pipes (its errors go to the test's own), to play the other side of a channel or a
// socket.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    // Closes its input, then ends it (SIGTERM) if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // One line of its output without the newline; false at its end or after timeoutMs.
    bool ReadLine(std::string& line, int timeoutMs);
    // The same, empty at its end or after the timeout.
    std::string ReadLine(int timeoutMs = 20000);
    void WriteLine(const std::string& line);
    // Its input's end, which a program reading lines takes as the word to stop.
    void CloseInput();
    // Sends it `signal` (a program that runs until one).
    void Signal(int signal);
    // Waits up to timeoutMs for it to end, killing it after: its exit code, 128 + the
    // signal that ended it, or -1 when it had to be killed.
    int Wait(int timeoutMs = 20000);

private:
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::string m_buffered;
};

}  // namespace velomark::testing
