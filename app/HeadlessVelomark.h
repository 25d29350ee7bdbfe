// `velomark --headless`: the acquisition engine with no window and no display. The
// real DSM and its default source, unattended; clients reach it through the shared
// channel, the command socket and the image stream as they reach the desktop
// program. Each image is kept only until the channel (or its queue) and every stream
// have it. SIGINT and SIGTERM end it: the socket closes, the source is disabled and
// closed, the sections are let go.
//
// One line per event on standard output: "ready <socket path>" once it serves
// ("no-twain" after it when the DSM could not be loaded), "select", "acquire",
// "image <width> <height> <bits> <what became of it>", "notice <text>", "exit"; with
// --share, "eSCL: http://HOST:PORT/eSCL" once the network scanners serve.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bridge/ImageDocument.h"
#include "dib/Dib.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "engine/ShareAddress.h"

// What `velomark --headless` was asked for on its command line.
struct HeadlessOptions {
    std::optional<velomark::ShareAddress> share;  // serve the sources as eSCL scanners
    std::vector<std::string> allowedOrigins;
};

class CHeadlessVelomark : public velomark::EngineHost {
public:
    explicit CHeadlessVelomark(HeadlessOptions options = {});
    ~CHeadlessVelomark() override;

    // Runs until SIGINT or SIGTERM; the process's exit status.
    int Run();

    bool CommandEnabled(uint16_t id) override;
    void Notice(const std::string& text) override;
    void StepStarted(const char* step) override;
    velomark::ImageDocument* OpenNewDocument() override { return &m_page; }
    void PageReceived(const TW_IMAGEINFO& info, velomark::PublishResult result,
                      velomark::ImageDocument* page) override;

private:
    // The one page: filled by the hand-off, emptied once the channel and the streams
    // have their copies.
    class Page : public velomark::ImageDocument {
    public:
        CDIB& Image() override { return m_image; }
        void UpdateAllViews() override {}
        void Discard() override { m_image.Destroy(); }

    private:
        CDIB m_image;
    };

    HeadlessOptions m_options;
    Page m_page;
    velomark::AcquisitionEngine m_engine;
};

// main()'s branch for --headless.
int RunHeadless(const HeadlessOptions& options);
