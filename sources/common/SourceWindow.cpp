#include "sources/common/SourceWindow.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include "sources/common/SourceSession.h"

namespace {

wxWindow* TopWindow() { return wxTheApp ? wxTheApp->GetTopWindow() : nullptr; }

}  // namespace

SourceWindow::SourceWindow(SourceSession& session, const wxString& title, const wxString& name)
    : wxFrame(TopWindow(), wxID_ANY, title, wxDefaultPosition, wxDefaultSize,
              (wxDEFAULT_FRAME_STYLE & ~(wxMAXIMIZE_BOX | wxRESIZE_BORDER)) |
                  (TopWindow() ? wxFRAME_FLOAT_ON_PARENT : 0),
              name),
      m_session(&session),
      m_timer(this) {
    Bind(wxEVT_CLOSE_WINDOW, &SourceWindow::OnCloseWindow, this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ShowProgress(); });
    m_timer.Start(kProgressPollMs);
}

SourceWindow::~SourceWindow() {
    m_timer.Stop();
    // Destroyed by the toolkit (its parent went away) rather than dismissed.
    if (m_session) m_session->WindowGone(this);
}

void SourceWindow::ShowAbove() {
    Show();
    Raise();
}

// Deleted at once rather than with Destroy() at the next idle time: the library that
// holds this class's code may be unloaded as soon as the source is closed.
void SourceWindow::Dismiss() {
    m_session = nullptr;
    m_timer.Stop();
    delete this;
}

void SourceWindow::LayOut(wxPanel* panel, wxSizer* settings, wxWindow* gauge, wxWindow* status,
                          std::initializer_list<wxButton*> buttons) {
    auto* close = new wxButton(panel, wxID_CLOSE, "&Close");
    close->Bind(wxEVT_BUTTON, &SourceWindow::OnCloseButton, this);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->AddStretchSpacer();
    for (wxButton* button : buttons) row->Add(button, 0, wxRIGHT, 6);
    row->Add(close);

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(settings, 0, wxEXPAND | wxALL, 10);
    column->Add(gauge, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);
    column->Add(status, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 10);
    column->Add(row, 0, wxEXPAND | wxALL, 10);
    panel->SetSizer(column);
    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(panel, 1, wxEXPAND);
    SetSizerAndFit(frameSizer);
    if (buttons.size() > 0) (*buttons.begin())->SetDefault();
}

void SourceWindow::OnCloseButton(wxCommandEvent&) {
    if (m_session) m_session->RequestClose();
}

// The title bar's close box asks the application to close the source, like Close: the
// window goes when the application disables the source. A close that cannot be refused
// only hides it, for the same reason Dismiss deletes it at once: the toolkit must never
// hold it for a deletion after the library is gone.
void SourceWindow::OnCloseWindow(wxCloseEvent& event) {
    if (event.CanVeto())
        event.Veto();
    else
        Hide();
    if (m_session) m_session->RequestClose();
}
