#include "sources/sane/SaneScanWorker.h"

#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "sources/sane/SaneDevice.h"
#include "sources/sane/SaneImageConverter.h"

SaneScanWorker::SaneScanWorker(SaneDevice& device, SaneSettings settings, int maxPages,
                               std::function<void()> pageReady, FinishedCallback finished)
    : m_device(device),
      m_settings(std::move(settings)),
      m_maxPages(maxPages),
      m_pageReady(std::move(pageReady)),
      m_finishedCallback(std::move(finished)),
      m_thread(&SaneScanWorker::Run, this) {}

SaneScanWorker::~SaneScanWorker() {
    Cancel();
    m_thread.join();
    for (Page& page : m_ready) GlobalFree(page.dib);
}

void SaneScanWorker::Cancel() {
    if (m_finished.load() || m_cancel.exchange(true)) return;
    // SANE lets sane_cancel interrupt a sane_read running on another thread.
    m_device.Api().cancel(m_device.Handle());
}

size_t SaneScanWorker::PagesReady() {
    std::lock_guard lock(m_mutex);
    return m_ready.size();
}

size_t SaneScanWorker::WaitForPageOrEnd() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_finished.load(); });
    return m_ready.size();
}

bool SaneScanWorker::PeekInfo(TW_IMAGEINFO* info) {
    std::lock_guard lock(m_mutex);
    if (m_ready.empty()) return false;
    *info = m_ready.front().info;
    return true;
}

HGLOBAL SaneScanWorker::TakePage() {
    std::lock_guard lock(m_mutex);
    if (m_ready.empty()) return nullptr;
    HGLOBAL dib = m_ready.front().dib;
    m_ready.pop_front();
    return dib;
}

SaneScanProgress SaneScanWorker::Progress() {
    std::lock_guard lock(m_mutex);
    SaneScanProgress progress;
    progress.running = !m_finished.load();
    progress.pagesScanned = m_pagesScanned.load();
    progress.pageBytesRead = m_pageBytesRead.load();
    progress.pageBytesExpected = m_pageBytesExpected.load();
    progress.end = m_end;
    progress.message = m_message;
    progress.failure = m_failure;
    return progress;
}

void SaneScanWorker::End(SaneBatchEnd end, const std::string& message) {
    // Every scan ends with sane_cancel, which also stops a feeder between sheets.
    m_device.Api().cancel(m_device.Handle());
    std::string all;
    {
        std::lock_guard lock(m_mutex);
        m_end = end;
        if (end == SaneBatchEnd::Failed) m_failure = message;
        if (!message.empty()) m_message = m_message.empty() ? message : m_message + "; " + message;
        all = m_message;
        m_finished = true;
    }
    m_changed.notify_all();
    if (m_finishedCallback) m_finishedCallback(end, all);
}

void SaneScanWorker::Run() {
    try {
        const std::vector<std::string> refused = m_device.Apply(m_settings);
        {
            std::lock_guard lock(m_mutex);
            for (const std::string& line : refused)
                m_message += (m_message.empty() ? "" : "; ") + line;
        }
        const bool feeder = m_device.FeedsSheets();
        const int limit = feeder ? m_maxPages : 1;
        const double dpi = m_device.Resolution();
        for (int page = 0; limit < 0 || page < limit; ++page) {
            if (m_cancel) return End(SaneBatchEnd::Cancelled, {});
            std::string error;
            switch (ScanPage(dpi, &error)) {
                case PageEnd::Scanned: break;
                case PageEnd::NoDocs:
                    return End(page == 0 ? SaneBatchEnd::FeederEmpty : SaneBatchEnd::Done, {});
                case PageEnd::Cancelled: return End(SaneBatchEnd::Cancelled, {});
                case PageEnd::Failed: return End(SaneBatchEnd::Failed, error);
            }
        }
        End(SaneBatchEnd::Done, {});
    } catch (const std::exception& e) {
        End(SaneBatchEnd::Failed, std::string("out of memory: ") + e.what());
    }
}

// sane_start may have started a reader thread in the backend, which SANE's thread
// helper cancels asynchronously at sane_cancel. A read that fails before any data
// came may come before that thread is through its start-up, and a thread cancelled
// inside an allocation leaves the allocator locked for the rest of the process (seen
// with SANE's test backend). So the batch's sane_cancel waits a moment then.
void SaneScanWorker::LetReaderStart() { std::this_thread::sleep_for(kReaderStartGrace); }

SaneScanWorker::PageEnd SaneScanWorker::ScanPage(double dpi, std::string* error) {
    const SaneApi& api = m_device.Api();
    SANE_Handle handle = m_device.Handle();
    SaneImageConverter converter;
    std::vector<SANE_Byte> buffer(kReadChunk);
    size_t pageRead = 0;
    m_pageBytesRead = 0;
    m_pageBytesExpected = 0;
    do {
        SANE_Status status = api.start(handle);
        if (status == SANE_STATUS_NO_DOCS && converter.FrameCount() == 0) return PageEnd::NoDocs;
        if (status == SANE_STATUS_CANCELLED || m_cancel) return PageEnd::Cancelled;
        if (status != SANE_STATUS_GOOD) {
            *error = api.StatusText(handle, status);
            return PageEnd::Failed;
        }
        SANE_Parameters parameters{};
        status = api.get_parameters(handle, &parameters);
        if (status != SANE_STATUS_GOOD) {
            *error = api.StatusText(handle, status);
            return PageEnd::Failed;
        }
        if (!converter.BeginFrame(parameters, error)) return PageEnd::Failed;
        // A three-pass page is expected to bring three frames of the same size.
        const int frames =
            parameters.format == SANE_FRAME_GRAY || parameters.format == SANE_FRAME_RGB ? 1 : 3;
        m_pageBytesExpected = converter.ExpectedFrameBytes() * size_t(frames);
        for (;;) {
            if (m_cancel) return PageEnd::Cancelled;
            SANE_Int length = 0;
            // Where the interface has the bytes in memory already (the worker's
            // region), they are converted from there, without a copy.
            const SANE_Byte* bytes = buffer.data();
            status = api.read_view ? api.read_view(handle, &bytes, kReadChunk, &length)
                                   : api.read(handle, buffer.data(), kReadChunk, &length);
            // A backend may end an interrupted read with EOF rather than CANCELLED.
            if (m_cancel) return PageEnd::Cancelled;
            if (status == SANE_STATUS_EOF) break;
            if (status != SANE_STATUS_GOOD && pageRead == 0) LetReaderStart();
            if (status == SANE_STATUS_CANCELLED) return PageEnd::Cancelled;
            // A feeder may find it has no sheet only when the page is read.
            if (status == SANE_STATUS_NO_DOCS) return PageEnd::NoDocs;
            if (status != SANE_STATUS_GOOD) {
                *error = api.StatusText(handle, status);
                return PageEnd::Failed;
            }
            if (length < 0 || length > kReadChunk) {
                *error = "the device reported an impossible read length";
                return PageEnd::Failed;
            }
            converter.Append(bytes, size_t(length));
            pageRead += size_t(length);
            m_pageBytesRead = pageRead;
        }
    } while (!converter.LastFrameBegun());

    TW_IMAGEINFO info{};
    HGLOBAL dib = converter.MakeDib(dpi, &info, error);
    if (!dib) {
        if (error->empty()) *error = "not enough memory for the page";
        return PageEnd::Failed;
    }
    {
        std::lock_guard lock(m_mutex);
        m_ready.push_back({dib, info});
    }
    m_changed.notify_all();
    ++m_pagesScanned;
    if (m_pageReady) m_pageReady();
    return PageEnd::Scanned;
}
