// The seam between the one DS_Entry that every source module exports (DsEntry.cpp)
// and the source the module holds.
#pragma once

#include "sources/common/SourceUi.h"
#include "twain/TwainTypes.h"

// Defined by each source module: its answer to every triplet.
TW_UINT16 SourceModuleEntry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                            TW_MEMREF data);

// True when the process is a graphical application and this is its thread: a source's
// window is made there or not at all.
bool SourceWindowsAllowed();

// The window factory a module gives its source: Window::Open where a window may be
// made, else null.
template <class Window, class Session, class Model>
SourceUi* OpenSourceWindow(Session& session, const Model& model) {
    return SourceWindowsAllowed() ? Window::Open(session, model) : nullptr;
}
