#include "res/CommandMap.h"

#include <wx/defs.h>

#include "res/ResourceIds.h"

namespace velomark::res {
namespace {

struct CommandPair {
    unsigned command;
    int toolkit;
};

constexpr CommandPair kStockCommands[] = {
    {ID_FILE_NEW, wxID_NEW},        {ID_FILE_OPEN, wxID_OPEN},
    {ID_FILE_CLOSE, wxID_CLOSE},    {ID_FILE_SAVE, wxID_SAVE},
    {ID_FILE_SAVE_AS, wxID_SAVEAS}, {ID_FILE_PRINT_SETUP, wxID_PRINT_SETUP},
    {ID_FILE_PRINT, wxID_PRINT},    {ID_FILE_PRINT_PREVIEW, wxID_PREVIEW},
    {ID_EDIT_COPY, wxID_COPY},      {ID_EDIT_CUT, wxID_CUT},
    {ID_EDIT_PASTE, wxID_PASTE},    {ID_EDIT_UNDO, wxID_UNDO},
    {ID_APP_ABOUT, wxID_ABOUT},     {ID_APP_EXIT, wxID_EXIT},
};

// Commands that keep their own number as toolkit id.
constexpr unsigned kOwnCommands[] = {
    ID_FILE_SELECTSOURCE, ID_FILE_ACQUIRE, ID_GET_DIB_BITES, ID_FILE_PRINT_DIRECT,
    ID_NEXT_PANE,         ID_PREV_PANE,    ID_VIEW_TOOLBAR,  ID_VIEW_STATUS_BAR,
};

static_assert(wxID_FILE9 - wxID_FILE1 + 1 >= kRecentFileCount);

}  // namespace

int ToolkitId(unsigned commandId) {
    for (const CommandPair& pair : kStockCommands)
        if (pair.command == commandId) return pair.toolkit;
    for (unsigned own : kOwnCommands)
        if (own == commandId) return static_cast<int>(own);
    if (commandId >= ID_FILE_MRU_FILE1 && commandId < ID_FILE_MRU_FILE1 + kRecentFileCount)
        return wxID_FILE1 + static_cast<int>(commandId - ID_FILE_MRU_FILE1);
    return -1;
}

unsigned CommandIdOf(int toolkitId) {
    for (const CommandPair& pair : kStockCommands)
        if (pair.toolkit == toolkitId) return pair.command;
    for (unsigned own : kOwnCommands)
        if (static_cast<int>(own) == toolkitId) return own;
    if (toolkitId >= wxID_FILE1 && toolkitId < wxID_FILE1 + kRecentFileCount)
        return ID_FILE_MRU_FILE1 + static_cast<unsigned>(toolkitId - wxID_FILE1);
    return 0;
}

}  // namespace velomark::res
