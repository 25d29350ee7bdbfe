#include "client/cli/ClientCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/cli/DeviceList.h"
#include "client/cli/PageFileWriter.h"
#include "client/cli/StreamAcquire.h"
#include "client/velomark_client.h"

namespace velomark {

namespace {

// How long the check that Velomark answers may take.
constexpr int kRunningCheckMs = 2000;
constexpr size_t kTextBufferSize = 64 * 1024;

int ExitCodeOf(velomark_result result) {
    switch (result) {
        case VELOMARK_OK: return EXIT_OK;
        case VELOMARK_E_NOT_RUNNING: return EXIT_NOT_RUNNING;
        case VELOMARK_E_TIMEOUT: return EXIT_TIMED_OUT;
        case VELOMARK_E_REFUSED: return EXIT_REFUSED;
        case VELOMARK_E_ARGUMENT:
        case VELOMARK_E_TOO_LONG: return EXIT_USAGE;
        default: return EXIT_FAILED;
    }
}

int Report(velomark_client* client, velomark_result result, const char* doing) {
    const char* detail = velomark_last_error(client);
    std::fprintf(stderr, "velomark-client: %s: %s%s%s\n", doing, velomark_result_text(result),
                 *detail ? ": " : "", detail);
    return ExitCodeOf(result);
}

bool PrepareFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "velomark-client: cannot create %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "velomark-client: %s is not a folder\n", folder.c_str());
        return false;
    }
    return true;
}

std::string ImagePath(const std::string& folder, int number) {
    char name[32];
    std::snprintf(name, sizeof(name), "image-%03d.bmp", number);
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

int Acquire(velomark_client* client, const ClientCommandLine& commandLine) {
    velomark_result result = velomark_check_running(client, kRunningCheckMs);
    if (result != VELOMARK_OK) return Report(client, result, "acquire");
    if (commandLine.stream) return StreamAcquire::Run(client, commandLine);
    if (!PrepareFolder(commandLine.outputFolder)) return EXIT_FAILED;
    result = velomark_request(client, VELOMARK_STATUS_ACQUIRE);
    if (result != VELOMARK_OK) return Report(client, result, "acquire");
    std::vector<unsigned char> dib;
    for (int number = 1; number <= commandLine.imageCount; ++number) {
        const std::string doing =
            "image " + std::to_string(number) + " of " + std::to_string(commandLine.imageCount);
        size_t size = 0;
        result = velomark_wait_image(client, commandLine.timeoutMs);
        if (result == VELOMARK_OK) result = velomark_image_size(client, &size);
        if (result == VELOMARK_OK) {
            dib.resize(size);
            result = velomark_copy_image(client, dib.data(), dib.size(), &size);
        }
        // Taken (or unusable): either way Velomark may go on with the next one.
        if (result != VELOMARK_E_TIMEOUT) velomark_acknowledge(client);
        if (result != VELOMARK_OK) return Report(client, result, doing.c_str());
        const std::string path = ImagePath(commandLine.outputFolder, number);
        std::string error;
        if (!PageFileWriter::Write(path, PageFormat::Bmp, dib.data(), size, 0, 0, &error)) {
            std::fprintf(stderr, "velomark-client: %s\n", error.c_str());
            return EXIT_FAILED;
        }
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
    }
    return EXIT_OK;
}

int Select(velomark_client* client, const ClientCommandLine& commandLine) {
    velomark_result result = velomark_check_running(client, kRunningCheckMs);
    if (result == VELOMARK_OK) result = velomark_request(client, VELOMARK_STATUS_SELECT_SOURCE);
    if (result == VELOMARK_OK)
        result = velomark_wait_status_change(client, VELOMARK_STATUS_SELECT_SOURCE,
                                             commandLine.timeoutMs);
    if (result != VELOMARK_OK) return Report(client, result, "select");
    std::printf("Velomark took the request to select a source\n");
    return EXIT_OK;
}

int Command(velomark_client* client, const ClientCommandLine& commandLine) {
    std::vector<char> reply(kTextBufferSize);
    velomark_result result = velomark_command(client, commandLine.text.c_str(), reply.data(),
                                              reply.size(), commandLine.timeoutMs);
    if (result != VELOMARK_OK && result != VELOMARK_E_BUFFER)
        return Report(client, result, "command");
    std::printf("%s\n", reply.data());
    return EXIT_OK;
}

const char* StatusName(int32_t status) {
    switch (status) {
        case VELOMARK_STATUS_IDLE: return "idle";
        case VELOMARK_STATUS_SELECT_SOURCE: return "select source requested";
        case VELOMARK_STATUS_ACQUIRE: return "acquire requested";
        case VELOMARK_STATUS_IMAGE_READY: return "image ready";
        default: return "unknown";
    }
}

int Status(velomark_client* client) {
    int32_t status = 0;
    velomark_result result = velomark_get_status(client, &status);
    if (result != VELOMARK_OK) return Report(client, result, "status");
    std::printf("%d (%s)\n", status, StatusName(status));
    return EXIT_OK;
}

int GetText(velomark_client* client) {
    std::vector<char> text(kTextBufferSize);
    velomark_result result = velomark_get_text(client, text.data(), text.size());
    if (result != VELOMARK_OK && result != VELOMARK_E_BUFFER)
        return Report(client, result, "get-text");
    std::printf("%s\n", text.data());
    return EXIT_OK;
}

int SetText(velomark_client* client, const ClientCommandLine& commandLine) {
    velomark_result result = velomark_set_text(client, commandLine.text.c_str());
    return result == VELOMARK_OK ? EXIT_OK : Report(client, result, "set-text");
}

}  // namespace

int ClientCommands::Run(const ClientCommandLine& commandLine) {
    if (commandLine.action == ClientAction::Help) {
        std::fputs(ClientCommandLine::Usage(), stdout);
        return EXIT_OK;
    }
    velomark_client* client = nullptr;
    velomark_result opened = velomark_open(&client);
    if (opened != VELOMARK_OK) return Report(nullptr, opened, "cannot open the shared sections");
    int exitCode = EXIT_FAILED;
    switch (commandLine.action) {
        case ClientAction::Select: exitCode = Select(client, commandLine); break;
        case ClientAction::Acquire: exitCode = Acquire(client, commandLine); break;
        case ClientAction::Devices: exitCode = DeviceList::Run(client, commandLine); break;
        case ClientAction::Command: exitCode = Command(client, commandLine); break;
        case ClientAction::Status: exitCode = Status(client); break;
        case ClientAction::GetText: exitCode = GetText(client); break;
        case ClientAction::SetText: exitCode = SetText(client, commandLine); break;
        case ClientAction::Help: break;
    }
    velomark_close(client);
    return exitCode;
}

}  // namespace velomark
