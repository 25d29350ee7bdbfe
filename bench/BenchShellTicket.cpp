// What a ticket costs: from the request to the first page through the real program
// (unattended, the test chart at 100 dpi in colour, one page a batch), a stream with
// a ticket (resolution, colour, one page: negotiated before the source is enabled)
// against the plain stream that takes the source as it is, alternating in the same
// run. x_plain is the ratio. Needs a display.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "bench/BenchClock.h"
#include "bench/RunningVelomark.h"

namespace {

using bench::Clock;
using bench::RunningVelomark;

// Seconds from the request to the first page; negative when none came.
double FirstPage(velomark_client* client, const velomark_ticket* ticket) {
    const Clock::time_point start = Clock::now();
    velomark_stream* stream = nullptr;
    const velomark_result opened = ticket
                                       ? velomark_stream_open_ticket(client, ticket, 1, &stream)
                                       : velomark_stream_open(client, VELOMARK_STREAM_START, 1, &stream);
    velomark_image* image = nullptr;
    const bool came =
        opened == VELOMARK_OK && velomark_stream_next(stream, &image, 30000) == VELOMARK_OK;
    const double seconds = SecondsSince(start);
    if (came) velomark_image_release(image);
    velomark_stream_close(stream);
    // The source closes after its batch before the next request.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return came ? seconds : -1;
}

void BM_TicketRequestToFirstPage(benchmark::State& state) {
    RunningVelomark velomark(100, 1);
    if (!velomark.Ready()) {
        state.SkipWithError("Velomark did not start (is there a display?)");
        return;
    }
    velomark_ticket ticket;
    velomark_ticket_init(&ticket);
    ticket.color = VELOMARK_COLOR_RGB;
    ticket.x_resolution = 100;
    ticket.pages = 1;
    double plainSeconds = 0, ticketSeconds = 0;
    for (auto _ : state) {
        const double plain = FirstPage(velomark.Client(), nullptr);
        const double ticketed = FirstPage(velomark.Client(), &ticket);
        if (plain < 0 || ticketed < 0) {
            state.SkipWithError("a stream did not deliver its page");
            break;
        }
        plainSeconds += plain;
        ticketSeconds += ticketed;
    }
    state.counters["ms_plain"] = plainSeconds / double(state.iterations()) * 1e3;
    state.counters["ms_ticket"] = ticketSeconds / double(state.iterations()) * 1e3;
    state.counters["x_plain"] = ticketSeconds / plainSeconds;
}
BENCHMARK(BM_TicketRequestToFirstPage)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
