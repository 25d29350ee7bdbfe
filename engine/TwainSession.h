// The TWAIN session as the acquisition engine drives it: the Data Source Manager's
// lifecycle, choosing a source, acquiring (plainly or with a ticket), the filter for
// the sources' notifications and where the running batch stands. EngineTwain is the
// real one, over CTwain; the engine's tests give the engine a stand-in.
#pragma once

#include <string>
#include <vector>

#include "platform/Window.h"

struct ScanTicket;
struct SourceAbilities;

namespace velomark {

class TwainSession {
public:
    virtual ~TwainSession() = default;

    // Loads and opens the DSM with `window` for the sources' notifications; false when
    // it could not be loaded. Close releases the source and the DSM (twice is safe).
    virtual bool Open(HWND window) = 0;
    virtual void Close() = 0;
    // The DSM is loaded: a source can be chosen.
    virtual bool IsLoaded() const = 0;
    // The DSM is open: acquisitions, jobs and streams can start.
    virtual bool IsReady() const = 0;
    // A source was chosen in this session (the menu's Acquire is offered).
    virtual bool HasSourceChosen() const = 0;
    virtual bool HasSourceOpen() const = 0;
    // An acquisition runs: a source is enabled and not yet closed.
    virtual bool IsRunning() const = 0;
    // The enabled source answers only MSG_PROCESSEVENT: every event must be offered.
    virtual bool WantsEveryEvent() const = 0;

    // The person's choice of source; false when there was none. WasCancelled tells a
    // cancelled choice from a failed one.
    virtual bool SelectDataSource() = 0;
    virtual bool WasCancelled() const = 0;
    // Opens the chosen (or default) source and enables it for nImages (-1: all).
    virtual bool StartAcquisition(int nImages) = 0;
    // A message for the TWAIN filter: a source's notification, or any event for a
    // source that wants every event.
    virtual void OfferMessage(const MSG& msg) = 0;
    // The sentence on which the last source's batch failed ("" when it did not fail or
    // cannot say); emptied by taking.
    virtual std::string TakeSourceFailure() = 0;

    // A job's acquisition: the ticket's source, negotiated, enabled; false with a
    // sentence naming what the source cannot do.
    virtual bool StartTicket(const ScanTicket& ticket, std::string* sentence) = 0;
    // What every listed source can do.
    virtual std::vector<SourceAbilities> Abilities() = 0;

    // The running batch: the page being transferred (1 for the first) and the
    // batch's size, -1 when unknown.
    virtual int PageOfBatch() const = 0;
    virtual int SizeOfBatch() const = 0;
};

}  // namespace velomark
