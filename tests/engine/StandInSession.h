// A TWAIN session for the engine with no DSM: it counts what it is asked and runs as
// the test sets it (an acquisition running, a source that wants every event).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/TwainSession.h"
#include "twain/SourceAbilities.h"

namespace velomark {

struct StandInSession : TwainSession {
    int selects = 0, acquires = 0, offered = 0;
    // loaded: a source can be chosen; ready: streams and jobs too.
    bool loaded = true, ready = true, running = false, everyEvent = false;
    // Called on each acquisition started, with the images asked.
    std::function<void(int)> onAcquire;

    bool Open(HWND) override { return loaded; }
    void Close() override {}
    bool IsLoaded() const override { return loaded; }
    bool IsReady() const override { return ready; }
    bool HasSourceChosen() const override { return selects > 0; }
    bool HasSourceOpen() const override { return running; }
    bool IsRunning() const override { return running; }
    bool WantsEveryEvent() const override { return everyEvent && running; }
    bool SelectDataSource() override { return ++selects, true; }
    bool WasCancelled() const override { return false; }
    bool StartAcquisition(int nImages) override {
        ++acquires;
        if (onAcquire) onAcquire(nImages);
        return true;
    }
    // A source's notification: its batch is over and it closes.
    void OfferMessage(const MSG&) override {
        ++offered;
        running = false;
    }
    std::string TakeSourceFailure() override { return {}; }
    bool StartTicket(const ScanTicket&, std::string* sentence) override {
        *sentence = "the stand-in takes no tickets";
        return false;
    }
    std::vector<SourceAbilities> Abilities() override { return {}; }
    int PageOfBatch() const override { return 0; }
    int SizeOfBatch() const override { return -1; }
};

}  // namespace velomark
