#include "app/VelomarkDocManager.h"

#include <wx/filehistory.h>

#include "res/ResourceIds.h"

CVelomarkDocManager::CVelomarkDocManager() : wxDocManager(0, false) {
    // Initialised here rather than by the base constructor, where the override
    // that makes the four-entry file history is not called yet.
    Initialize();
    // Save stays available for every active document, also one just saved or opened
    // (the toolkit's rule greys it out then); bound, so it goes before that rule.
    Bind(wxEVT_UPDATE_UI, &CVelomarkDocManager::OnUpdateSave, this, wxID_SAVE);
}

void CVelomarkDocManager::OnUpdateSave(wxUpdateUIEvent& event) {
    event.Enable(GetCurrentDocument() != nullptr);
}

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
