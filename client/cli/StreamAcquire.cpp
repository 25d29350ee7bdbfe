#include "client/cli/StreamAcquire.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/cli/PageFileWriter.h"
#include "client/velomark_client.h"

namespace velomark {

namespace {

using Clock = std::chrono::steady_clock;

// A JSON string: quotes, backslashes and control characters escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string PagePath(const std::string& folder, int number, PageFormat format) {
    char name[40];
    std::snprintf(name, sizeof(name), "page-%03d.%s", number, PageFileWriter::Extension(format));
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int ExitCodeOf(velomark_result result) {
    switch (result) {
        case VELOMARK_E_NOT_RUNNING: return EXIT_NOT_RUNNING;
        case VELOMARK_E_TIMEOUT: return EXIT_TIMED_OUT;
        case VELOMARK_E_REFUSED: return EXIT_REFUSED;
        default: return EXIT_FAILED;
    }
}

// The end of the run: the final JSON line, or a message on failure. `refusal` is
// Velomark's sentence when a ticketed job could not run as asked.
int Finish(const ClientCommandLine& commandLine, velomark_client* client, velomark_result result,
           int pages, Clock::time_point start, const std::string& refusal = "") {
    const bool ended = result == VELOMARK_E_END;
    const std::string error = ended ? "" : refusal.empty() ? velomark_last_error(client) : refusal;
    if (commandLine.json) {
        std::printf("{\"end\":%s,\"pages\":%d,\"ms\":%lld", ended ? "true" : "false", pages,
                    MillisecondsSince(start));
        if (!ended) std::printf(",\"error\":%s", Quoted(error).c_str());
        std::printf("}\n");
        std::fflush(stdout);
    }
    if (!refusal.empty()) {
        std::fprintf(stderr, "velomark-client: acquire: %s\n", refusal.c_str());
        return EXIT_USAGE;
    }
    if (!ended) {
        std::fprintf(stderr, "velomark-client: acquire: %s%s%s\n", velomark_result_text(result),
                     error.empty() ? "" : ": ", error.c_str());
        return ExitCodeOf(result);
    }
    if (pages == 0) {
        std::fprintf(stderr, "velomark-client: the source ended with no pages\n");
        return EXIT_NO_PAGES;
    }
    return EXIT_OK;
}

}  // namespace

int StreamAcquire::Run(velomark_client* client, const ClientCommandLine& commandLine) {
    PageFormat format = PageFormat::Bmp;
    PageFileWriter::ParseFormat(commandLine.format, &format);
    if (mkdir(commandLine.outputFolder.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "velomark-client: cannot create %s: %s\n",
                     commandLine.outputFolder.c_str(), std::strerror(errno));
        return EXIT_FAILED;
    }
    const Clock::time_point start = Clock::now();
    velomark_stream* stream = nullptr;
    const uint32_t wanted =
        commandLine.countGiven ? static_cast<uint32_t>(commandLine.imageCount) : 0;
    const bool ticketed = commandLine.ticket.Given();
    const velomark_ticket ticket = commandLine.ticket.Ticket(wanted);
    velomark_result result =
        ticketed ? velomark_stream_open_ticket(client, &ticket, wanted, &stream)
                 : velomark_stream_open(client, VELOMARK_STREAM_START, wanted, &stream);
    if (result != VELOMARK_OK) return Finish(commandLine, client, result, 0, start);
    int pages = 0;
    velomark_image* image = nullptr;
    while ((result = velomark_stream_next(stream, &image, commandLine.timeoutMs)) == VELOMARK_OK) {
        ++pages;
        const std::string path = PagePath(commandLine.outputFolder, pages, format);
        std::string error;
        const bool saved = PageFileWriter::Write(path, format, image->dib, image->size,
                                                 image->x_resolution, image->y_resolution, &error);
        const double megabytes = static_cast<double>(image->size) / 1e6;
        if (!saved) {
            velomark_image_release(image);
            velomark_stream_close(stream);
            std::fprintf(stderr, "velomark-client: page %d: %s\n", pages, error.c_str());
            return EXIT_FAILED;
        }
        if (commandLine.json) {
            std::printf(
                "{\"path\":%s,\"width\":%d,\"height\":%d,\"bits\":%d,\"xres\":%g,\"yres\":%g,"
                "\"bytes\":%zu,\"ms\":%lld}\n",
                Quoted(path).c_str(), image->width, image->height, image->bits_per_pixel,
                image->x_resolution, image->y_resolution, image->size, MillisecondsSince(start));
            std::fflush(stdout);
        } else {
            std::fprintf(stderr, "page %d: %d x %d, %.1f MB\n", pages, image->width,
                         image->height, megabytes);
            std::printf("%s\n", path.c_str());
            std::fflush(stdout);
        }
        velomark_image_release(image);
    }
    // A job that ends with an error before its first page could not take the
    // ticket's settings: a usage error, in Velomark's words.
    std::string refusal;
    if (ticketed && pages == 0 && result == VELOMARK_E_SERVER) {
        refusal = velomark_stream_error(stream);
        if (refusal.empty()) refusal = "Velomark could not run the job as asked";
    }
    velomark_stream_close(stream);
    return Finish(commandLine, client, result, pages, start, refusal);
}

}  // namespace velomark
