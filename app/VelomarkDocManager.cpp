#include "app/VelomarkDocManager.h"

#include <wx/filehistory.h>

#include "res/ResourceIds.h"

CVelomarkDocManager::CVelomarkDocManager() : wxDocManager(0, true) {}

wxString CVelomarkDocManager::MakeNewDocumentName() {
    return wxString::Format("Velomark%d", ++m_nUntitled);
}

wxFileHistory* CVelomarkDocManager::OnCreateFileHistory() {
    return new wxFileHistory(velomark::res::kRecentFileCount);
}

void CVelomarkDocManager::AddFileToHistory(const wxString& file) {
    wxDocManager::AddFileToHistory(file);
    HistoryChanged();
}

void CVelomarkDocManager::RemoveFileFromHistory(size_t index) {
    wxDocManager::RemoveFileFromHistory(index);
    HistoryChanged();
}

void CVelomarkDocManager::HistoryChanged() {
    if (m_historyChanged) m_historyChanged();
}
