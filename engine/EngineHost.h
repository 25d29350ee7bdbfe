// What the acquisition engine asks of the program around it: a document for each
// image, the commands that are not the engine's own, a way to wake the program's
// loop and to tell the user things. The engine holds the TWAIN session itself. The
// desktop frame, `velomark --headless` and the stand-ins of the tests and benchmarks
// implement it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bridge/ImageDocument.h"
#include "bridge/ImageHandoff.h"
#include "twain/TwainTypes.h"

namespace velomark {

class EngineHost : public ImageDocumentFactory {
public:
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
    // Something a user should read: the channel was damaged, an image was lost, a
    // source could not be chosen or started.
    virtual void Notice(const std::string& text) { static_cast<void>(text); }

    // A TWAIN step begins: "select" or "acquire".
    virtual void StepStarted(const char* step) { static_cast<void>(step); }
    // The person picks a source when the DSM has no list of its own: the index, or
    // nothing when cancelled. Without a person, the preselected one stands.
    virtual std::optional<size_t> ChooseFromList(const std::vector<std::string>& names,
                                                 size_t preselected) {
        static_cast<void>(names);
        return preselected;
    }
    // An image went its road: `page` is the document made for it while it stands
    // (published, queued or kept in its window only), null otherwise.
    virtual void PageReceived(const TW_IMAGEINFO& info, PublishResult result,
                              ImageDocument* page) {
        static_cast<void>(info);
        static_cast<void>(result);
        static_cast<void>(page);
    }
};

}  // namespace velomark
