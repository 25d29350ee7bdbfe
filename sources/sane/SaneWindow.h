// A SANE source's modeless window: mode, resolution and source as the device names
// them, the scan area, Scan, Cancel, Close, a progress bar (bytes read of the page;
// pulsing while the device does not know the page's length) and a status line that
// says how the batch ended. It never waits: the session's worker scans, and a timer on
// the window's thread reads the progress.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <vector>

#include "sources/sane/SaneUi.h"

class wxButton;
class wxChoice;
class wxGauge;
class wxStaticText;

class SaneWindow : public wxFrame, public SourceUi {
public:
    // Makes and shows the window above the application's top window.
    static SaneWindow* Open(SaneSession& session, const SaneUiModel& model);
    ~SaneWindow() override;

    void Dismiss() override;

    // The window's name, by which tests find it.
    static constexpr const char* kWindowName = "velomarkSaneWindow";

private:
    struct Area {
        wxString label;
        double widthMm;
        double heightMm;
    };

    SaneWindow(wxWindow* parent, SaneSession& session, const SaneUiModel& model);
    void BuildControls();
    void BuildAreas();
    SaneSettings SettingsFromControls() const;
    void ShowProgress();
    void OnScan(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnCloseButton(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);
    void OnTimer(wxTimerEvent& event);

    SaneSession* m_session;  // null once dismissed
    SaneUiModel m_model;
    std::vector<Area> m_areas;
    wxChoice* m_mode = nullptr;
    wxChoice* m_resolution = nullptr;
    wxChoice* m_source = nullptr;
    wxChoice* m_area = nullptr;
    wxGauge* m_gauge = nullptr;
    wxStaticText* m_status = nullptr;
    wxButton* m_scan = nullptr;
    wxButton* m_cancel = nullptr;
    wxTimer m_timer;
};
