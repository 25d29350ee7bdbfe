#include "dsm/SourceSelectDialog.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/thread.h>

namespace {

// Product names are meant to be ASCII; a name that is not UTF-8 is shown as Latin-1.
wxString ToDisplayText(const std::string& name) {
    wxString text = wxString::FromUTF8(name.c_str());
    if (text.empty() && !name.empty()) text = wxString(name.c_str(), wxConvISO8859_1);
    return text;
}

}  // namespace

bool SourceSelectDialog::CanShow() {
    wxAppConsole* app = wxAppConsole::GetInstance();
    return app && app->IsGUI() && wxThread::IsMain();
}

std::optional<size_t> SourceSelectDialog::Choose(const std::vector<std::string>& productNames,
                                                 size_t preselected,
                                                 const std::vector<std::string>& notes) {
    wxWindow* parent = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    wxDialog dialog(parent, wxID_ANY, "Select Source", wxDefaultPosition, wxDefaultSize,
                    wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER, kDialogName);

    wxArrayString items;
    for (const std::string& name : productNames) items.Add(ToDisplayText(name));
    auto* list =
        new wxListBox(&dialog, wxID_ANY, wxDefaultPosition, dialog.FromDIP(wxSize(320, 180)), items,
                      wxLB_SINGLE, wxDefaultValidator, kListName);
    if (preselected < productNames.size()) list->SetSelection(static_cast<int>(preselected));
    list->Bind(wxEVT_LISTBOX_DCLICK, [&dialog](wxCommandEvent&) { dialog.EndModal(wxID_OK); });
    dialog.Bind(
        wxEVT_UPDATE_UI,
        [list](wxUpdateUIEvent& event) { event.Enable(list->GetSelection() != wxNOT_FOUND); },
        wxID_OK);

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(&dialog, wxID_ANY, "Sources:"), 0, wxLEFT | wxRIGHT | wxTOP, 10);
    sizer->Add(list, 1, wxEXPAND | wxALL, 10);
    for (const std::string& note : notes) {
        sizer->Add(new wxStaticText(&dialog, wxID_ANY, ToDisplayText(note), wxDefaultPosition,
                                    wxDefaultSize, 0, kNoteName),
                   0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    }
    sizer->Add(dialog.CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0,
               wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    dialog.SetSizerAndFit(sizer);
    dialog.CentreOnParent();
    list->SetFocus();

    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    const int selection = list->GetSelection();
    if (selection == wxNOT_FOUND) return std::nullopt;
    return static_cast<size_t>(selection);
}
