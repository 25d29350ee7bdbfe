// Carries out one parsed velomark-client command line against Velomark.
#pragma once

#include "client/cli/ClientCommandLine.h"

namespace velomark {

class ClientCommands {
public:
    // Runs the action, printing results on stdout and errors on stderr; the exit code.
    static int Run(const ClientCommandLine& commandLine);
};

}  // namespace velomark
