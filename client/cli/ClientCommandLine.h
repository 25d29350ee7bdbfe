// The velomark-client command line: one action and its options, and the exit
// codes the program ends with.
#pragma once

#include <string>

#include "client/cli/TicketOptions.h"

namespace velomark {

enum ClientExitCode {
    EXIT_OK = 0,
    EXIT_FAILED = 1,       // anything else: sections, image, files, socket errors
    EXIT_USAGE = 2,        // bad arguments
    EXIT_NOT_RUNNING = 3,  // Velomark does not answer on its command socket
    EXIT_TIMED_OUT = 4,
    EXIT_REFUSED = 5,   // Velomark refused the command
    EXIT_NO_PAGES = 6,  // the stream's acquisition ended without a page
};

enum class ClientAction { Help, Select, Acquire, Devices, Command, Status, GetText, SetText };

class ClientCommandLine {
public:
    // False with the reason in `error` for arguments that do not make a command.
    bool Parse(int argc, const char* const* argv, std::string& error);

    static const char* Usage();

    ClientAction action = ClientAction::Help;
    int imageCount = 1;
    bool countGiven = false;
    bool stream = false;  // acquire through the image stream
    bool json = false;
    std::string format = "bmp";
    std::string outputFolder = ".";
    int timeoutMs = 30000;
    std::string text;      // for command and set-text
    TicketOptions ticket;  // acquire --stream with settings: a ticketed stream
};

}  // namespace velomark
