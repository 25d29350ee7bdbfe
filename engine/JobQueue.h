// The jobs with a ticket, in the order their requests came: one runs at a time, the
// others wait for it, none is refused for being second. A job's pages go to its own
// requester (a ticketed stream, a network client), and so does its end, or the
// sentence that says why it could not start as asked. User-interface thread only.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "twain/ScanTicket.h"

namespace velomark {

class JobRequester;

class JobQueue {
public:
    struct Job {
        ScanTicket ticket;
        std::shared_ptr<JobRequester> requester;
    };
    // Starts a job's acquisition; false with the sentence that says why it could not.
    using Starter = std::function<bool(const ScanTicket& ticket, std::string* sentence)>;

    void Add(Job job) { m_waiting.push_back(std::move(job)); }
    bool Running() const { return m_running.has_value(); }
    size_t Waiting() const { return m_waiting.size(); }
    // The running job's requester; null when none runs.
    JobRequester* RunningRequester() const;

    // When none runs, starts the oldest waiting job; one that cannot start ends with
    // its sentence and the next is tried.
    void StartNext(const Starter& start);
    // The running job's source closed: its requester gets the end, or the sentence on
    // which the batch failed.
    void FinishRunning(const std::string& failure = std::string());
    // Every job is dropped (the program stops); their requesters close with their servers.
    void Clear();

private:
    std::optional<Job> m_running;
    std::deque<Job> m_waiting;
};

}  // namespace velomark
