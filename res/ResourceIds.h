// The numbers of Velomark's resources and commands. Command ids are the ones clients
// send over the command socket; CommandMap.h pairs each with its toolkit id.
#pragma once

namespace velomark::res {

// Resources
constexpr unsigned IDD_ABOUTBOX = 100;
constexpr unsigned IDR_MAINFRAME = 128;
constexpr unsigned IDR_VELOMARKTYPE = 129;

// Velomark's own commands and strings
constexpr unsigned ID_FILE_SELECTSOURCE = 32771;
constexpr unsigned ID_FILE_ACQUIRE = 32772;
constexpr unsigned ID_GET_DIB_BITES = 32783;
constexpr unsigned ID_WINDOW_CLOSE_ALL = 32787;
// Pages kept in files, and the view's zoom
constexpr unsigned ID_FILE_SAVE_ALL_PAGES = 32800;
constexpr unsigned ID_VIEW_ZOOM_IN = 32801;
constexpr unsigned ID_VIEW_ZOOM_OUT = 32802;
constexpr unsigned ID_VIEW_ZOOM_ACTUAL = 32803;
constexpr unsigned ID_VIEW_ZOOM_FIT_WIDTH = 32804;
// The sources as network scanners
constexpr unsigned ID_FILE_SHARE_SCANNERS = 32805;

// The standard commands the menu, toolbar and accelerators carry
constexpr unsigned ID_FILE_NEW = 57600;
constexpr unsigned ID_FILE_OPEN = 57601;
constexpr unsigned ID_FILE_CLOSE = 57602;
constexpr unsigned ID_FILE_SAVE = 57603;
constexpr unsigned ID_FILE_SAVE_AS = 57604;
constexpr unsigned ID_FILE_PRINT_SETUP = 57606;
constexpr unsigned ID_FILE_PRINT = 57607;
constexpr unsigned ID_FILE_PRINT_DIRECT = 57608;
constexpr unsigned ID_FILE_PRINT_PREVIEW = 57609;
constexpr unsigned ID_FILE_MRU_FILE1 = 57616;
constexpr unsigned ID_FILE_MRU_LAST = 57631;
constexpr unsigned ID_EDIT_COPY = 57634;
constexpr unsigned ID_EDIT_CUT = 57635;
constexpr unsigned ID_EDIT_PASTE = 57637;
constexpr unsigned ID_EDIT_UNDO = 57643;
constexpr unsigned ID_APP_ABOUT = 57664;
constexpr unsigned ID_APP_EXIT = 57665;
constexpr unsigned ID_NEXT_PANE = 57680;
constexpr unsigned ID_PREV_PANE = 57681;
constexpr unsigned ID_VIEW_TOOLBAR = 59392;
constexpr unsigned ID_VIEW_STATUS_BAR = 59393;

// Strings
constexpr unsigned AFX_IDS_APP_TITLE = 57344;
constexpr unsigned AFX_IDS_IDLEMESSAGE = 57345;
constexpr unsigned ID_INDICATOR_EXT = 59136;
constexpr unsigned ID_INDICATOR_CAPS = 59137;
constexpr unsigned ID_INDICATOR_NUM = 59138;
constexpr unsigned ID_INDICATOR_SCRL = 59139;

// The file history holds this many entries.
constexpr int kRecentFileCount = 4;

}  // namespace velomark::res
