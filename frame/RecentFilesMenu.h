// The recent-file entries of the File menu: the greyed "Recent File" item while the
// list is empty, else one item per file ("&1 path", ...), in the same place.
#pragma once

class wxMenu;
class wxFileHistory;

namespace velomark {

class RecentFilesMenu {
public:
    // The menu's item with the first recent-file id marks the place.
    explicit RecentFilesMenu(wxMenu& fileMenu);

    void Refresh(const wxFileHistory& history);

private:
    wxMenu& m_menu;
    int m_position = -1;
};

}  // namespace velomark
