// Running another program from a test: to completion with its output captured, or
// in the background with its output going to files.
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

// Starts argv with the given standard streams and the test's environment; -1 on
// failure. The child gets a process group of its own.
pid_t SpawnWithStreams(const std::vector<std::string>& argv, int in, int out, int err);

// Starts argv with the environment `environment` (NAME=value entries), standard
// input from /dev/null and the two outputs appended to the files; -1 on failure.
pid_t SpawnProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, const std::string& outPath,
                   const std::string& errPath);

// Waits up to timeoutMs for the child to end: its exit code, 128 + the signal that
// ended it, or -1 when it still runs.
int WaitForExit(pid_t pid, int timeoutMs);

}  // namespace velomark::testing
