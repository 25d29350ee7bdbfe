// A document with no views and no window, for programs that hand images off without
// showing them: the stand-in programs of the tests and the benchmarks.
#pragma once

#include "bridge/ImageDocument.h"
#include "dib/Dib.h"

namespace velomark {

class PlainImageDocument : public ImageDocument {
public:
    CDIB& Image() override { return m_image; }
    void UpdateAllViews() override {}
    void Discard() override {}

private:
    CDIB m_image;
};

}  // namespace velomark
