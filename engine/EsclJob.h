// One network client's scan job: the requester of a queued engine job on one side,
// the client's NextDocument requests on the other. Pages wait here as packed DIBs
// and are encoded on the client's own connection thread, so a slow client holds up
// no one. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EsclSettings.h"
#include "engine/JobRequester.h"

namespace velomark {

class EsclJob : public JobRequester {
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Pending, Processing, Completed, Canceled, Aborted };

    struct Page {
        std::vector<unsigned char> packed;
        TW_IMAGEINFO info{};
    };
    enum class Next { Page, NoMore, Failed, Canceled };

    // `uri`: the path the client was given for it.
    EsclJob(std::string id, std::string uri, int scanner, EsclSettings settings);

    const std::string& Id() const { return m_id; }
    const std::string& Uri() const { return m_uri; }
    int Scanner() const { return m_scanner; }
    const EsclSettings& Settings() const { return m_settings; }

    // JobRequester, from the engine's thread.
    bool Open() const override;
    void Started() override;
    void TakePage(const void* packed, size_t size, const TW_IMAGEINFO& info) override;
    void End() override;
    void Fail(const std::string& sentence) override;

    // Waits for the next page, the end, a failure (its sentence in *sentence) or a
    // cancel. The client's NextDocument.
    Next WaitForPage(Page* page, std::string* sentence);
    // The client gave the job up (DELETE, or it went away): pages are dropped, a
    // waiting job is skipped, a waiting NextDocument returns.
    void Cancel();

    State CurrentState() const;
    int ImagesCompleted() const;
    // The feeder ran out: the job ended after its pages without a failure.
    bool EndedByFeeder() const;
    // Whether the job has been left alone (no NextDocument waiting or asked) since `since`.
    bool IdleSince(Clock::time_point since) const;
    // When the job ended; nullopt-like Clock::time_point{} while it runs.
    Clock::time_point EndedAt() const;
    Clock::time_point CreatedAt() const { return m_created; }
    // The last page handed to the client, for ScanImageInfo: false before the first.
    bool LastPageSize(int* width, int* height, int* bytesPerLine) const;
    void SetLastPageSize(int width, int height, int bytesPerLine);

private:
    void EndLocked(State state);

    const std::string m_id;
    const std::string m_uri;
    const int m_scanner;
    const EsclSettings m_settings;
    const Clock::time_point m_created;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Page> m_pages;
    State m_state = State::Pending;
    bool m_sourceDone = false;
    std::string m_failure;
    int m_imagesCompleted = 0;
    int m_waiters = 0;
    Clock::time_point m_lastAsked;
    Clock::time_point m_ended{};
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    int m_lastBytesPerLine = 0;
};

}  // namespace velomark
