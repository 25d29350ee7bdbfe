// Resource 128 of the main frame built with the toolkit: menu bar, accelerator
// table, toolbar buttons and the application icon.
#pragma once

class wxMenuBar;
class wxToolBar;
class wxAcceleratorTable;
class wxIcon;

namespace velomark::res {

// Menu 128: File, View, Window and Help with their items, mnemonics, shortcuts and prompts.
wxMenuBar* BuildMenuBar();

// Accelerator table 128.
wxAcceleratorTable BuildAcceleratorTable();

// The command of accelerator table 128 for a key with its modifiers (wxMOD_CONTROL,
// wxMOD_ALT, wxMOD_SHIFT; letters in upper case); 0 when the table has none.
unsigned AcceleratorCommand(int modifiers, int keyCode);

// The accelerator flags (wxACCEL_CTRL, ...) of key-event modifiers (wxMOD_CONTROL, ...).
int AcceleratorFlags(int modifiers);

// Toolbar 128: eleven slots, three of them separators, 16 x 16 images. False when a
// button image cannot be made.
bool LoadToolBar(wxToolBar& toolBar);

// The application icon, 32 x 32.
wxIcon AppIcon();

}  // namespace velomark::res
