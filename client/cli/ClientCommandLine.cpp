#include "client/cli/ClientCommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace velomark {

namespace {

constexpr int kMaxImages = 100000;
constexpr double kMaxTimeoutSeconds = 86400;

struct ActionInfo {
    ClientAction action;
    bool takesText;
    bool takesCountAndFolder;
    bool takesTimeout;
    int defaultTimeoutMs;
};

const std::map<std::string, ActionInfo>& Actions() {
    static const std::map<std::string, ActionInfo> actions = {
        {"select", {ClientAction::Select, false, false, true, 10000}},
        {"acquire", {ClientAction::Acquire, false, true, true, 30000}},
        {"devices", {ClientAction::Devices, false, false, true, 30000}},
        {"command", {ClientAction::Command, true, false, true, 10000}},
        {"status", {ClientAction::Status, false, false, false, 0}},
        {"get-text", {ClientAction::GetText, false, false, false, 0}},
        {"set-text", {ClientAction::SetText, true, false, false, 0}},
    };
    return actions;
}

bool ParseCount(const char* value, int& count) {
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != 0 || parsed < 1 || parsed > kMaxImages) return false;
    count = static_cast<int>(parsed);
    return true;
}

bool ParseSeconds(const char* value, int& milliseconds) {
    char* end = nullptr;
    double seconds = std::strtod(value, &end);
    if (end == value || *end != 0 || !std::isfinite(seconds) || seconds < 0 ||
        seconds > kMaxTimeoutSeconds)
        return false;
    milliseconds = static_cast<int>(std::lround(seconds * 1000));
    return true;
}

}  // namespace

const char* ClientCommandLine::Usage() {
    return "Usage: velomark-client ACTION [OPTIONS]\n"
           "Takes images from a running Velomark through its shared sections and socket.\n"
           "\n"
           "Actions:\n"
           "  select [-t SECONDS]       ask Velomark to let the user choose a source\n"
           "                            (status word 1); waits until Velomark takes it up\n"
           "  acquire [-n N] [-o DIR] [-t SECONDS]\n"
           "                            ask Velomark to acquire (status word 2) and save the\n"
           "                            next N images (default 1) as DIR/image-001.bmp, ...\n"
           "                            (default DIR: the current folder), printing each path;\n"
           "                            -t is the wait for each image (default 30)\n"
           "  acquire --stream [-n N] [-o DIR] [--format bmp|png|tiff] [--json] [-t SECONDS]\n"
           "                            start an acquisition and save every page of it as it\n"
           "                            arrives (DIR/page-001.bmp, ...), or the first N; one\n"
           "                            progress line per page on stderr, or with --json one\n"
           "                            JSON line per page on stdout and a final one\n"
           "  acquire --stream [--device NAME] [--source flatbed|feeder|duplex]\n"
           "          [--mode color|gray|bw] [--resolution DPI|XxY] [--area X,Y,W,H] ...\n"
           "                            scan with these settings, as a job of its own whose\n"
           "                            pages come to this client only; --area in millimetres\n"
           "                            from the bed's top left, -n N also asks the source for\n"
           "                            N pages; a setting the source cannot take exits 2\n"
           "  devices [--json] [-t SECONDS]\n"
           "                            list the sources: inputs, modes, resolutions, bed size\n"
           "                            in mm; with --json the document Velomark sent\n"
           "  command TEXT [-t SECONDS] write TEXT to the data block, send command 32783 and\n"
           "                            print the reply text Velomark leaves there\n"
           "  status                    print the status word (0 idle, 1 select source,\n"
           "                            2 acquire, 5 image ready)\n"
           "  get-text                  print the text at the start of the data block\n"
           "  set-text TEXT             write TEXT at the start of the data block\n"
           "                            (put -- before a TEXT that starts with '-')\n"
           "  --help, -h                show this text\n"
           "\n"
           "Exit codes: 0 success, 1 failure, 2 bad arguments (also a setting the source\n"
           "cannot take), 3 Velomark is not running, 4 timed out, 5 Velomark refused the\n"
           "command, 6 the source ended with no pages (acquire --stream).\n";
}

bool ClientCommandLine::Parse(int argc, const char* const* argv, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            action = ClientAction::Help;
            return true;
        }
    }
    if (argc < 2) {
        error = "no action given";
        return false;
    }
    auto found = Actions().find(argv[1]);
    if (found == Actions().end()) {
        error = std::string("unknown action '") + argv[1] + "'";
        return false;
    }
    const ActionInfo& info = found->second;
    action = info.action;
    timeoutMs = info.defaultTimeoutMs;
    bool haveText = false;
    bool optionsEnded = false;  // after "--", a TEXT may start with '-'
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        const bool isOption = !optionsEnded && option.size() > 1 && option[0] == '-';
        if (isOption && info.takesCountAndFolder && option == "--stream") {
            stream = true;
            continue;
        }
        if (isOption && option == "--json" &&
            (info.takesCountAndFolder || info.action == ClientAction::Devices)) {
            json = true;
            continue;
        }
        if (!isOption) {
            if (!info.takesText || haveText) {
                error = "unexpected argument '" + option + "'";
                return false;
            }
            text = option;
            haveText = true;
            continue;
        }
        const bool known = (option == "-t" && info.takesTimeout) ||
                           ((option == "-n" || option == "-o" || option == "--format" ||
                             TicketOptions::Takes(option)) &&
                            info.takesCountAndFolder);
        if (!known) {
            error = "unknown option '" + option + "' for " + found->first;
            return false;
        }
        if (i + 1 >= argc) {
            error = "option " + option + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        if (TicketOptions::Takes(option)) {
            if (!ticket.Parse(option, value, error)) return false;
            continue;
        }
        if (option == "-n" && !ParseCount(value, imageCount)) {
            error = std::string("-n takes a number of images from 1 to ") +
                    std::to_string(kMaxImages) + ", not '" + value + "'";
            return false;
        }
        if (option == "-n") countGiven = true;
        if (option == "--format") {
            format = value;
            if (format != "bmp" && format != "png" && format != "tiff") {
                error = std::string("--format takes bmp, png or tiff, not '") + value + "'";
                return false;
            }
        }
        if (option == "-t" && !ParseSeconds(value, timeoutMs)) {
            error = std::string("-t takes seconds from 0 to 86400, not '") + value + "'";
            return false;
        }
        if (option == "-o") {
            if (!*value) {
                error = "-o needs a folder";
                return false;
            }
            outputFolder = value;
        }
    }
    if (action == ClientAction::Acquire && !stream && (json || format != "bmp")) {
        error = "--json and --format go with --stream";
        return false;
    }
    if (ticket.Given() && !stream) {
        error = "--device, --source, --mode, --resolution and --area go with --stream";
        return false;
    }
    if (ticket.Given()) {
        // The library's writer has the last word on what a ticket may hold.
        const velomark_ticket settings = ticket.Ticket(countGiven ? imageCount : 0);
        char text[VELOMARK_TICKET_MAX + 1];
        if (velomark_ticket_text(&settings, text, sizeof(text)) < 0) {
            error = std::string("the settings make no ticket: ") + velomark_last_error(nullptr);
            return false;
        }
    }
    if (info.takesText && !haveText) {
        error = found->first + " needs a TEXT";
        return false;
    }
    return true;
}

}  // namespace velomark
