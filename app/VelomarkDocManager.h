// The document manager: untitled documents are named Velomark1, Velomark2, ...,
// the recent-file list holds four entries, the main frame's File menu follows
// every change to the list, and Save is there for any active document.
#pragma once

#include <wx/docview.h>

#include <functional>

class CVelomarkDocManager : public wxDocManager {
public:
    CVelomarkDocManager();

    void SetHistoryChangedHandler(std::function<void()> handler) {
        m_historyChanged = std::move(handler);
    }

    wxString MakeNewDocumentName() override;
    wxFileHistory* OnCreateFileHistory() override;
    void AddFileToHistory(const wxString& file) override;
    void RemoveFileFromHistory(size_t index) override;

private:
    void HistoryChanged();
    void OnUpdateSave(wxUpdateUIEvent& event);

    std::function<void()> m_historyChanged;
    int m_nUntitled = 0;
};
