#include <cstdio>
#include <string>

#include "client/cli/ClientCommandLine.h"
#include "client/cli/ClientCommands.h"

int main(int argc, char** argv) {
    velomark::ClientCommandLine commandLine;
    std::string error;
    if (!commandLine.Parse(argc, argv, error)) {
        std::fprintf(stderr, "velomark-client: %s\nTry 'velomark-client --help'.\n", error.c_str());
        return velomark::EXIT_USAGE;
    }
    return velomark::ClientCommands::Run(commandLine);
}
