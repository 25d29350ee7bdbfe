#include "engine/JobQueue.h"

#include "bridge/ImageStream.h"

namespace velomark {

const std::shared_ptr<ImageStream>* JobQueue::RunningStream() const {
    return m_running ? &m_running->stream : nullptr;
}

void JobQueue::StartNext(const Starter& start) {
    while (!m_running && !m_waiting.empty()) {
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        // A client that went away meanwhile needs no scan.
        if (!job.stream->Open()) continue;
        m_running = std::move(job);
        std::string sentence;
        if (start(m_running->ticket, &sentence)) return;
        m_running->stream->PushError(sentence);
        m_running.reset();
    }
}

void JobQueue::FinishRunning(const std::string& failure) {
    if (!m_running) return;
    if (failure.empty())
        m_running->stream->PushEnd();
    else
        m_running->stream->PushError(failure);
    m_running.reset();
}

void JobQueue::Clear() {
    m_running.reset();
    m_waiting.clear();
}

}  // namespace velomark
