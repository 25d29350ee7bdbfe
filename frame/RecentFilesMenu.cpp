#include "frame/RecentFilesMenu.h"

#include <wx/filehistory.h>
#include <wx/menu.h>

#include "res/ResourceIds.h"
#include "res/StringTable.h"

namespace velomark {
namespace {

bool IsRecentFileId(int id) { return id >= wxID_FILE1 && id <= wxID_FILE9; }

}  // namespace

RecentFilesMenu::RecentFilesMenu(wxMenu& fileMenu) : m_menu(fileMenu) {
    const wxMenuItemList& items = m_menu.GetMenuItems();
    int index = 0;
    for (const wxMenuItem* item : items) {
        if (item->GetId() == wxID_FILE1) {
            m_position = index;
            break;
        }
        ++index;
    }
}

void RecentFilesMenu::Refresh(const wxFileHistory& history) {
    if (m_position < 0) return;
    for (int id = wxID_FILE1; IsRecentFileId(id); ++id)
        while (m_menu.FindItem(id)) m_menu.Destroy(id);

    const size_t count = history.GetCount();
    if (count == 0) {
        wxMenuItem* placeholder = m_menu.Insert(m_position, wxID_FILE1, "Recent File");
        placeholder->Enable(false);
        return;
    }
    const wxString prompt = wxString::FromUTF8(res::CommandPrompt(res::ID_FILE_MRU_FILE1));
    for (size_t i = 0; i < count; ++i) {
        wxString path = history.GetHistoryFile(i);
        path.Replace("&", "&&");
        m_menu.Insert(m_position + static_cast<int>(i), wxID_FILE1 + static_cast<int>(i),
                      wxString::Format("&%zu %s", i + 1, path), prompt);
    }
}

}  // namespace velomark
