// The engine's TWAIN session over the real TWAIN client: every transferred image
// goes to the engine, a source list the DSM cannot show goes to the host.
#pragma once

#include <functional>

#include "engine/TwainSession.h"
#include "twain/Twain.h"

namespace velomark {

class EngineHost;

class EngineTwain : public CTwain, public TwainSession {
public:
    using ImageReceiver = std::function<void(HGLOBAL hDib, const TW_IMAGEINFO& info)>;
    // Whether the pages still pending are wanted (a job whose client gave it up
    // wants none).
    using PagesWanted = std::function<bool()>;
    EngineTwain(EngineHost& host, ImageReceiver receiver, PagesWanted wanted = nullptr);
    ~EngineTwain() override;

    bool Open(HWND window) override { return InitTwain(window) != FALSE; }
    void Close() override { ReleaseTwain(); }
    bool IsLoaded() const override { return IsDsmLoaded() != FALSE; }
    bool IsReady() const override { return IsDsmOpen() != FALSE; }
    bool HasSourceChosen() const override { return m_bSourceSelected != FALSE; }
    bool HasSourceOpen() const override { return IsSourceOpen() != FALSE; }
    bool IsRunning() const override { return IsSourceEnabled() != FALSE; }
    bool WantsEveryEvent() const override { return NeedsEveryEvent() != FALSE; }
    bool SelectDataSource() override { return SelectSource() != FALSE; }
    bool WasCancelled() const override { return m_nReturnCode == TWRC_CANCEL; }
    bool StartAcquisition(int nImages) override { return Acquire(nImages) != FALSE; }
    void OfferMessage(const MSG& msg) override { FilterMessage(msg); }
    std::string TakeSourceFailure() override { return CTwain::TakeSourceFailure(); }
    bool StartTicket(const ScanTicket& ticket, std::string* sentence) override {
        return AcquireTicket(ticket, sentence) != FALSE;
    }
    std::vector<SourceAbilities> Abilities() override;
    int PageOfBatch() const override { return BatchPage(); }
    int SizeOfBatch() const override { return BatchSize(); }

protected:
    void ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info) override;
    TransferVerdict ApproveTransfer(const TW_IMAGEINFO& info) override;
    std::optional<size_t> ChooseSource(const std::vector<TW_IDENTITY>& sources,
                                       size_t preselected) override;

private:
    EngineHost& m_host;
    ImageReceiver m_receiver;
    PagesWanted m_wanted;
};

}  // namespace velomark
