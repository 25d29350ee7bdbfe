#include "engine/JobQueue.h"

#include "engine/JobRequester.h"

namespace velomark {

JobRequester* JobQueue::RunningRequester() const {
    return m_running ? m_running->requester.get() : nullptr;
}

void JobQueue::StartNext(const Starter& start) {
    while (!m_running && !m_waiting.empty()) {
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        // A client that went away meanwhile needs no scan.
        if (!job.requester->Open()) continue;
        m_running = std::move(job);
        std::string sentence;
        if (start(m_running->ticket, &sentence)) {
            m_running->requester->Started();
            return;
        }
        m_running->requester->Fail(sentence);
        m_running.reset();
    }
}

void JobQueue::FinishRunning(const std::string& failure) {
    if (!m_running) return;
    if (failure.empty())
        m_running->requester->End();
    else
        m_running->requester->Fail(failure);
    m_running.reset();
}

void JobQueue::Clear() {
    m_running.reset();
    m_waiting.clear();
}

}  // namespace velomark
