#include "res/MainFrameResources.h"

#include <wx/accel.h>
#include <wx/artprov.h>
#include <wx/dcmemory.h>
#include <wx/icon.h>
#include <wx/menu.h>
#include <wx/toolbar.h>

#include <vector>

#include "res/CommandMap.h"
#include "res/ResourceIds.h"
#include "res/StringTable.h"

namespace velomark::res {
namespace {

struct MenuEntry {
    const char* text;  // null: a separator
    unsigned command;
    bool grayed = false;
    bool checkable = false;
};

const MenuEntry kFileMenu[] = {
    {"&New\tCtrl+N", ID_FILE_NEW},
    {"&Open...\tCtrl+O", ID_FILE_OPEN},
    {"&Close\tCtrl+W", ID_FILE_CLOSE},
    {"Save &As...\tCtrl+Shift+S", ID_FILE_SAVE_AS},
    {"Save A&ll Pages...\tCtrl+Alt+S", ID_FILE_SAVE_ALL_PAGES},
    {nullptr, 0},
    {"S&elect Source...", ID_FILE_SELECTSOURCE},
    {"A&cquire...", ID_FILE_ACQUIRE},
    {"S&hare Scanners on the Network", ID_FILE_SHARE_SCANNERS, false, true},
    {nullptr, 0},
    {"P&rint Setup...", ID_FILE_PRINT_SETUP},
    {nullptr, 0},
    {"Recent File", ID_FILE_MRU_FILE1, true},
    {nullptr, 0},
    {"E&xit", ID_APP_EXIT},
};

const MenuEntry kViewMenu[] = {
    {"&Toolbar", ID_VIEW_TOOLBAR, false, true},
    {"&Status Bar", ID_VIEW_STATUS_BAR, false, true},
    {nullptr, 0},
    {"Zoom &In\tCtrl++", ID_VIEW_ZOOM_IN},
    {"Zoom &Out\tCtrl+-", ID_VIEW_ZOOM_OUT},
    {"&Actual Size\tCtrl+0", ID_VIEW_ZOOM_ACTUAL},
    {"Fit &Width", ID_VIEW_ZOOM_FIT_WIDTH},
};

const MenuEntry kWindowMenu[] = {
    {"Close &All", ID_WINDOW_CLOSE_ALL},
};

const MenuEntry kHelpMenu[] = {
    {"&About Velomark...", ID_APP_ABOUT},
};

template <size_t N>
wxMenu* BuildPopup(const MenuEntry (&entries)[N]) {
    auto* menu = new wxMenu;
    for (const MenuEntry& entry : entries) {
        if (!entry.text) {
            menu->AppendSeparator();
            continue;
        }
        wxMenuItem* item = menu->Append(ToolkitId(entry.command), wxString::FromUTF8(entry.text),
                                        wxString::FromUTF8(CommandPrompt(entry.command)),
                                        entry.checkable ? wxITEM_CHECK : wxITEM_NORMAL);
        if (entry.grayed) item->Enable(false);
        if (entry.checkable) item->Check(true);
    }
    return menu;
}

struct AcceleratorEntry {
    int flags;
    int key;
    unsigned command;
};

const AcceleratorEntry kAccelerators[] = {
    {wxACCEL_CTRL, 'N', ID_FILE_NEW},         {wxACCEL_CTRL, 'O', ID_FILE_OPEN},
    {wxACCEL_CTRL, 'S', ID_FILE_SAVE},        {wxACCEL_CTRL, 'P', ID_FILE_PRINT},
    {wxACCEL_CTRL, 'W', ID_FILE_CLOSE},       {wxACCEL_CTRL, WXK_F4, ID_FILE_CLOSE},
    {wxACCEL_CTRL, 'Z', ID_EDIT_UNDO},        {wxACCEL_CTRL, 'X', ID_EDIT_CUT},
    {wxACCEL_CTRL, 'C', ID_EDIT_COPY},        {wxACCEL_CTRL, 'V', ID_EDIT_PASTE},
    {wxACCEL_ALT, WXK_BACK, ID_EDIT_UNDO},    {wxACCEL_SHIFT, WXK_DELETE, ID_EDIT_CUT},
    {wxACCEL_CTRL, WXK_INSERT, ID_EDIT_COPY}, {wxACCEL_SHIFT, WXK_INSERT, ID_EDIT_PASTE},
    {wxACCEL_NORMAL, WXK_F6, ID_NEXT_PANE},   {wxACCEL_SHIFT, WXK_F6, ID_PREV_PANE},
    // Pages kept in files, and the view's zoom. The keys of Zoom In and Out differ by
    // keyboard: '+' is shifted '=' on some, a key of its own on others.
    {wxACCEL_CTRL | wxACCEL_SHIFT, 'S', ID_FILE_SAVE_AS},
    {wxACCEL_CTRL | wxACCEL_ALT, 'S', ID_FILE_SAVE_ALL_PAGES},
    {wxACCEL_CTRL, '+', ID_VIEW_ZOOM_IN},
    {wxACCEL_CTRL | wxACCEL_SHIFT, '=', ID_VIEW_ZOOM_IN},
    {wxACCEL_CTRL, '=', ID_VIEW_ZOOM_IN},
    {wxACCEL_CTRL, WXK_NUMPAD_ADD, ID_VIEW_ZOOM_IN},
    {wxACCEL_CTRL, '-', ID_VIEW_ZOOM_OUT},
    {wxACCEL_CTRL, WXK_NUMPAD_SUBTRACT, ID_VIEW_ZOOM_OUT},
    {wxACCEL_CTRL, '0', ID_VIEW_ZOOM_ACTUAL},
    {wxACCEL_CTRL, WXK_NUMPAD0, ID_VIEW_ZOOM_ACTUAL},
};

struct ToolEntry {
    unsigned command;  // 0: a separator
    const char* art;
};

const ToolEntry kToolBar[] = {
    {ID_FILE_NEW, wxART_NEW},        {ID_FILE_OPEN, wxART_FILE_OPEN},
    {ID_FILE_SAVE, wxART_FILE_SAVE}, {0, nullptr},
    {ID_EDIT_CUT, wxART_CUT},        {ID_EDIT_COPY, wxART_COPY},
    {ID_EDIT_PASTE, wxART_PASTE},    {0, nullptr},
    {ID_FILE_PRINT, wxART_PRINT},    {0, nullptr},
    {ID_APP_ABOUT, wxART_HELP},
};

constexpr int kButtonSize = 16;

wxBitmap ButtonImage(const char* art) {
    const wxSize size(kButtonSize, kButtonSize);
    wxBitmap bitmap = wxArtProvider::GetBitmap(art, wxART_TOOLBAR, size);
    if (bitmap.IsOk() && bitmap.GetSize() != size) {
        wxImage image = bitmap.ConvertToImage();
        bitmap = wxBitmap(image.Rescale(kButtonSize, kButtonSize, wxIMAGE_QUALITY_HIGH));
    }
    return bitmap;
}

}  // namespace

wxMenuBar* BuildMenuBar() {
    auto* bar = new wxMenuBar;
    bar->Append(BuildPopup(kFileMenu), "&File");
    bar->Append(BuildPopup(kViewMenu), "&View");
    bar->Append(BuildPopup(kWindowMenu), "&Window");
    bar->Append(BuildPopup(kHelpMenu), "&Help");
    return bar;
}

wxAcceleratorTable BuildAcceleratorTable() {
    std::vector<wxAcceleratorEntry> entries;
    for (const AcceleratorEntry& entry : kAccelerators)
        entries.emplace_back(entry.flags, entry.key, ToolkitId(entry.command));
    return wxAcceleratorTable(static_cast<int>(entries.size()), entries.data());
}

int AcceleratorFlags(int modifiers) {
    return ((modifiers & wxMOD_CONTROL) ? int(wxACCEL_CTRL) : 0) |
           ((modifiers & wxMOD_ALT) ? int(wxACCEL_ALT) : 0) |
           ((modifiers & wxMOD_SHIFT) ? int(wxACCEL_SHIFT) : 0);
}

unsigned AcceleratorCommand(int modifiers, int keyCode) {
    const int flags = AcceleratorFlags(modifiers);
    for (const AcceleratorEntry& entry : kAccelerators)
        if (entry.flags == flags && entry.key == keyCode) return entry.command;
    return 0;
}

bool LoadToolBar(wxToolBar& toolBar) {
    toolBar.SetToolBitmapSize(wxSize(kButtonSize, kButtonSize));
    for (const ToolEntry& entry : kToolBar) {
        if (!entry.command) {
            toolBar.AddSeparator();
            continue;
        }
        const wxBitmap image = ButtonImage(entry.art);
        if (!image.IsOk()) return false;
        toolBar.AddTool(ToolkitId(entry.command), wxString::FromUTF8(CommandTip(entry.command)),
                        image, wxString::FromUTF8(CommandTip(entry.command)), wxITEM_NORMAL);
        toolBar.SetToolLongHelp(ToolkitId(entry.command),
                                wxString::FromUTF8(CommandPrompt(entry.command)));
    }
    return toolBar.Realize();
}

wxIcon AppIcon() {
    // A page under a scanner's light bar: drawn here, so the program carries no
    // image files.
    wxBitmap bitmap(32, 32, 24);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(wxColour(40, 70, 120)));
        dc.Clear();
        dc.SetPen(*wxBLACK_PEN);
        dc.SetBrush(*wxWHITE_BRUSH);
        dc.DrawRectangle(7, 4, 18, 24);
        dc.SetBrush(wxBrush(wxColour(90, 200, 255)));
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.DrawRectangle(3, 13, 26, 4);
        dc.SetPen(wxPen(wxColour(40, 70, 120), 2));
        dc.DrawLine(10, 20, 16, 26);
        dc.DrawLine(16, 26, 22, 20);
    }
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    return icon;
}

}  // namespace velomark::res
