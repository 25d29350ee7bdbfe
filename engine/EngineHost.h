// What the acquisition engine asks of the program around it: the TWAIN client's
// operations, a document for each image, the commands that are not the engine's
// own and a way to wake the program's loop. The desktop frame, `velomark
// --headless` and the stand-ins of the tests and benchmarks implement it.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/ImageDocument.h"
#include "platform/Window.h"

class CTwain;

namespace velomark {

class EngineHost : public ImageDocumentFactory {
public:
    // The TWAIN client's two operations; false when they failed (the host says why).
    virtual BOOL ChooseSource() = 0;
    virtual BOOL StartAcquisition(int nImages) = 0;
    // The TWAIN client, for what the engine does with it directly (jobs with a
    // ticket, the sources' abilities); null where there is none.
    virtual CTwain* Twain() { return nullptr; }
    // A source is enabled: delivering, or not yet closed after its batch.
    virtual bool AcquisitionRunning() const = 0;
    // The DSM is open: the TWAIN commands run and image streams may open.
    virtual bool TwainReady() const = 0;
    // A message a source posted to the engine's window, for the TWAIN filter.
    virtual void OfferToSource(const MSG& msg) = 0;
    // The enabled source answers only MSG_PROCESSEVENT (no callback, nothing posted):
    // it must be offered the program's events.
    virtual bool SourceNeedsEveryEvent() const { return false; }
    // Whether command `id` would run now, as its menu item's update rule says.
    virtual bool CommandEnabled(uint16_t id) = 0;
    // Runs a command that is not the engine's own (New, Close All, ...); false when
    // it is unknown or did not run.
    virtual bool RunCommand(uint16_t id) {
        static_cast<void>(id);
        return false;
    }
    // Called from any thread when work waits for the next turn (a posted message, a
    // client's command): the loop should turn soon.
    virtual void Wake() {}
    // Whether the loop that runs now is the program's main loop, not a modal
    // dialog's or a wait's own.
    virtual bool OnMainLoop() const { return true; }
    // Something a user should read: the channel was damaged, an image was lost.
    virtual void Notice(const std::string& text) { static_cast<void>(text); }
};

}  // namespace velomark
