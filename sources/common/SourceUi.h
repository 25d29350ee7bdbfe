// What a source's session knows of its window, so that the session needs no toolkit:
// the window itself lives in the source module.
#pragma once

class SourceUi {
public:
    // The session is done with the window: it goes away and calls the session no more.
    virtual void Dismiss() = 0;

protected:
    ~SourceUi() = default;
};
