// A page the engine handed over whose window is yet to be made: its decoded bitmap,
// its resolution and what became of it on the clients' side. The frame makes the
// windows once the batch lets it (ShowArrivedPages), so the source's next page
// never waits for a window.
#pragma once

#include "bridge/ImageDocument.h"
#include "bridge/ImageHandoff.h"
#include "dib/Dib.h"
#include "docview/ImageFile.h"
#include "twain/TwainTypes.h"

namespace velomark {

struct ArrivingPage : ImageDocument {
    CDIB image{nullptr, 24};
    PageResolution resolution;
    TW_IMAGEINFO info{};
    PublishResult result = PublishResult::NoDocument;

    CDIB& Image() override { return image; }
    void UpdateAllViews() override {}
    void Discard() override { image.Destroy(); }
    void SetResolution(double xDpi, double yDpi) override { resolution = {xDpi, yDpi}; }
};

}  // namespace velomark
