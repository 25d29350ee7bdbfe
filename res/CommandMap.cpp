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
    {ID_WINDOW_CLOSE_ALL, wxID_CLOSE_ALL},
    {ID_FILE_PRINT, wxID_PRINT},    {ID_FILE_PRINT_PREVIEW, wxID_PREVIEW},
    {ID_EDIT_COPY, wxID_COPY},      {ID_EDIT_CUT, wxID_CUT},
    {ID_EDIT_PASTE, wxID_PASTE},    {ID_EDIT_UNDO, wxID_UNDO},
    {ID_APP_ABOUT, wxID_ABOUT},     {ID_APP_EXIT, wxID_EXIT},
};

// Velomark's own commands get ids above the toolkit's stock ids (the toolkit takes
// ids below 0x7fff only, and most of these numbers are larger).
constexpr CommandPair kOwnCommands[] = {
    {ID_FILE_SELECTSOURCE, wxID_HIGHEST + 1}, {ID_FILE_ACQUIRE, wxID_HIGHEST + 2},
    {ID_GET_DIB_BITES, wxID_HIGHEST + 3},     {ID_FILE_PRINT_DIRECT, wxID_HIGHEST + 4},
    {ID_NEXT_PANE, wxID_HIGHEST + 5},         {ID_PREV_PANE, wxID_HIGHEST + 6},
    {ID_VIEW_TOOLBAR, wxID_HIGHEST + 7},      {ID_VIEW_STATUS_BAR, wxID_HIGHEST + 8},
    // Pages kept in files, and the view's zoom
    {ID_FILE_SAVE_ALL_PAGES, wxID_HIGHEST + 20},
    {ID_VIEW_ZOOM_IN, wxID_HIGHEST + 21},
    {ID_VIEW_ZOOM_OUT, wxID_HIGHEST + 22},
    {ID_VIEW_ZOOM_ACTUAL, wxID_HIGHEST + 23},
    {ID_VIEW_ZOOM_FIT_WIDTH, wxID_HIGHEST + 24},
    {ID_FILE_SHARE_SCANNERS, wxID_HIGHEST + 25},
};

static_assert(wxID_FILE9 - wxID_FILE1 + 1 >= kRecentFileCount);

}  // namespace

int ToolkitId(unsigned commandId) {
    for (const CommandPair& pair : kStockCommands)
        if (pair.command == commandId) return pair.toolkit;
    for (const CommandPair& pair : kOwnCommands)
        if (pair.command == commandId) return pair.toolkit;
    if (commandId >= ID_FILE_MRU_FILE1 && commandId < ID_FILE_MRU_FILE1 + kRecentFileCount)
        return wxID_FILE1 + static_cast<int>(commandId - ID_FILE_MRU_FILE1);
    return -1;
}

unsigned CommandIdOf(int toolkitId) {
    for (const CommandPair& pair : kStockCommands)
        if (pair.toolkit == toolkitId) return pair.command;
    for (const CommandPair& pair : kOwnCommands)
        if (pair.toolkit == toolkitId) return pair.command;
    if (toolkitId >= wxID_FILE1 && toolkitId < wxID_FILE1 + kRecentFileCount)
        return ID_FILE_MRU_FILE1 + static_cast<unsigned>(toolkitId - wxID_FILE1);
    return 0;
}

}  // namespace velomark::res
