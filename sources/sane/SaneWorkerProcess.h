// One velomark-sane-worker seen from sane.ds: started over a socket pair, asked one
// request at a time, each answer awaited until a deadline. A worker that dies, exits,
// answers what is not the protocol or misses its deadline is killed and reaped, and
// Failure says so in a sentence; every later call fails at once with it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneWorkerWire.h"

class SaneWorkerProcess {
public:
    // The deadlines: listing, opening and options; sane_start and each stretch of a
    // read. VELOMARK_SANE_DEADLINE (seconds) sets both.
    static std::chrono::seconds ShortDeadline();
    static std::chrono::seconds LongDeadline();
    // VELOMARK_SANE_WORKER, else velomark-sane-worker beside sane.ds.
    static std::string ProgramPath();

    // Starts a worker that loads the SANE library `libraryFile`; Failure says why not.
    explicit SaneWorkerProcess(const std::string& libraryFile);
    // Closes the socket; a worker that does not end at once is killed. Reaped.
    ~SaneWorkerProcess();
    SaneWorkerProcess(const SaneWorkerProcess&) = delete;
    SaneWorkerProcess& operator=(const SaneWorkerProcess&) = delete;

    // A reply, or a segment of a frame being read.
    struct Answer {
        bool segment = false;
        SANE_Status status = SANE_STATUS_IO_ERROR;
        std::string text;                   // the worker's own words for a failure
        std::vector<unsigned char> fields;  // what follows status and text
        uint64_t offset = 0;                // a segment's, in the frame region, unchecked
        uint64_t size = 0;
    };
    // Sends the request (with `passFd` beside it unless -1) and waits for its reply.
    // False when the worker failed (Failure).
    bool Call(const sane_wire::Writer& request, std::chrono::seconds deadline, Answer* answer,
              int passFd = -1);
    // The parts of a call, for a frame's segments before its reply: one request, then
    // each packet within its own deadline. The caller keeps them to one thread.
    bool Send(const sane_wire::Writer& request, int passFd = -1);
    bool Await(std::chrono::seconds deadline, Answer* answer);
    // A request that is never answered and leaves a call under way as it is.
    bool Tell(const sane_wire::Writer& request, int passFd = -1);
    // Sends a Cancel, from any thread, and shortens the wait of a call under way: a
    // worker that does not answer soon after is killed.
    void Cancel();
    // The protocol was broken by the worker's answer (a field out of range): it is
    // killed, and the failure names it.
    void Reject(const std::string& what);

    bool Alive() const { return m_pid > 0 && m_failure.empty(); }
    const std::string& Failure() const { return m_failure; }

    // A cancelled call is given this long to end before the worker is killed.
    static constexpr std::chrono::seconds kCancelGrace{5};

private:
    // Kills (when still running) and reaps the worker; `sentence` says why, else the
    // way it ended does.
    void End(const std::string& sentence);
    std::string HowItEnded(int waitStatus) const;
    // The packet waiting on the socket, checked for form.
    bool Take(Answer* answer);

    pid_t m_pid = -1;
    int m_socket = -1;
    std::string m_failure;
    std::mutex m_callMutex;  // one call at a time; Cancel does not take it
    std::atomic<bool> m_cancelled{false};
};
