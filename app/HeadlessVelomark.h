// `velomark --headless`: the acquisition engine with no window and no display. The
// real DSM and its default source, unattended; clients reach it through the shared
// channel, the command socket and the image stream as they reach the desktop
// program. Each image is kept only until the channel (or its queue) and every stream
// have it. SIGINT and SIGTERM end it: the socket closes, the source is disabled and
// closed, the sections are let go.
//
// One line per event on standard output: "ready <socket path>" once it serves
// ("no-twain" after it when the DSM could not be loaded), "select", "acquire",
// "image <width> <height> <bits> <what became of it>", "notice <text>", "exit".
#pragma once

#include <string>

#include "bridge/ImageDocument.h"
#include "dib/Dib.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "twain/Twain.h"

class CHeadlessVelomark : public CTwain, public velomark::EngineHost {
public:
    CHeadlessVelomark();
    ~CHeadlessVelomark() override;

    // Runs until SIGINT or SIGTERM; the process's exit status.
    int Run();

    BOOL ChooseSource() override;
    BOOL StartAcquisition(int nImages) override;
    bool AcquisitionRunning() const override { return IsSourceEnabled() != FALSE; }
    bool TwainReady() const override { return IsDsmOpen() != FALSE; }
    void OfferToSource(const MSG& msg) override { FilterMessage(msg); }
    bool SourceNeedsEveryEvent() const override { return NeedsEveryEvent() != FALSE; }
    CTwain* Twain() override { return this; }
    bool CommandEnabled(uint16_t id) override;
    void Notice(const std::string& text) override;
    velomark::ImageDocument* OpenNewDocument() override { return &m_page; }

protected:
    void ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info) override;

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

    Page m_page;
    velomark::AcquisitionEngine m_engine;
};

// main()'s branch for --headless.
int RunHeadless();
