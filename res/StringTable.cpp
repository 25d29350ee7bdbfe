#include "res/StringTable.h"

#include <algorithm>
#include <iterator>

#include "res/ResourceIds.h"

namespace velomark::res {
namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// The document string's fields are separated by line breaks; the type id holds a
// plain backslash.
constexpr const char* kDocumentString =
    "\nVelomark\nVelomark\n\n\nVelomark.Document\\Velomark Document\n";

// Sorted by id. A command string is its status-bar prompt, a line break and its
// tool tip.
constexpr StringEntry kStrings[] = {
    {128, "Velomark"},
    {129, kDocumentString},
    {32783, "Get Dib Bites\nGet Dib Bites"},
    {32784, "Select Data Source\nSelect Data Source"},
    {32785, "Acquire\nAcquire"},
    {32786, "Close Datasource\nClose Datasource"},
    {32787, "Close all document windows; prompts to save unsaved ones\nClose All"},
    {32800, "Save every open page in one PDF or TIFF file\nSave All Pages"},
    {32801, "Show the page larger\nZoom In"},
    {32802, "Show the page smaller\nZoom Out"},
    {32803, "Show one page pixel per screen pixel\nActual Size"},
    {32804, "Show the page as wide as its window\nFit Width"},
    {32805, "Let eSCL (AirScan) clients on the network scan with these sources\nShare Scanners"},
    {57344, "Velomark"},
    {57345, "Ready"},
    {57600, "Create a new document\nNew"},
    {57601, "Open an existing document\nOpen"},
    {57602, "Close the active document\nClose"},
    {57603, "Save the active document\nSave"},
    {57604, "Save the active document with a new name\nSave As"},
    {57605, "Change the printing options\nPage Setup"},
    {57606, "Change the printer and printing options\nPrint Setup"},
    {57607, "Print the active document\nPrint"},
    {57609, "Display full pages\nPrint Preview"},
    {57632, "Erase the selection\nErase"},
    {57633, "Erase everything\nErase All"},
    {57634, "Copy the selection and put it on the Clipboard\nCopy"},
    {57635, "Cut the selection and put it on the Clipboard\nCut"},
    {57636, "Find the specified text\nFind"},
    {57637, "Insert Clipboard contents\nPaste"},
    {57640, "Repeat the last action\nRepeat"},
    {57641, "Replace specific text with different text\nReplace"},
    {57642, "Select the entire document\nSelect All"},
    {57643, "Undo the last action\nUndo"},
    {57644, "Redo the previously undone action\nRedo"},
    {57648, "Open another window for the active document\nNew Window"},
    {57649, "Arrange icons at the bottom of the window\nArrange Icons"},
    {57650, "Arrange windows so they overlap\nCascade Windows"},
    {57651, "Arrange windows as non-overlapping tiles\nTile Windows"},
    {57652, "Arrange windows as non-overlapping tiles\nTile Windows"},
    {57653, "Split the active window into panes\nSplit"},
    {57664, "Display program information, version number and copyright\nAbout"},
    {57665, "Quit the application; prompts to save documents\nExit"},
    {57680, "Switch to the next window pane\nNext Pane"},
    {57681, "Switch back to the previous window pane\nPrevious Pane"},
    {59136, "EXT"},
    {59137, "CAP"},
    {59138, "NUM"},
    {59139, "SCRL"},
    {59140, "OVR"},
    {59141, "REC"},
    {59392, "Show or hide the toolbar\nToggle ToolBar"},
    {59393, "Show or hide the status bar\nToggle Status Bar"},
    {61184, "Change the window size"},
    {61185, "Change the window position"},
    {61186, "Reduce the window to an icon"},
    {61187, "Enlarge the window to full size"},
    {61188, "Switch to the next document window"},
    {61189, "Switch to the previous document window"},
    {61190, "Close the active window and prompts to save the documents"},
    {61202, "Restore the window to normal size"},
    {61203, "Activate Task List"},
    {61215, "Activate this window"},
    {61445, "Close print preview mode\nCancel Preview"},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const StringEntry& a, const StringEntry& b) {
                                 return a.id < b.id;
                             }));

std::string Line(const char* text, int index) {
    std::string s = text ? text : "";
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = s.find('\n', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    return s.substr(start, s.find('\n', start) - start);
}

}  // namespace

const char* LoadResourceString(unsigned id) {
    // The recent-file entries share one prompt.
    if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) return "Open this document";
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const StringEntry& e, unsigned key) { return e.id < key; });
    return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}

std::string CommandPrompt(unsigned commandId) { return Line(LoadResourceString(commandId), 0); }

std::string CommandTip(unsigned commandId) { return Line(LoadResourceString(commandId), 1); }

}  // namespace velomark::res
