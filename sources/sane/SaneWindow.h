// A SANE source's modeless window: mode, resolution and source as the device names
// them, the scan area, Scan, Cancel, Close, a progress bar (bytes read of the page;
// pulsing while the device does not know the page's length) and a status line that
// says how the batch ended. The session's worker scans; the window's life is
// SourceWindow's.
#pragma once

#include <vector>

#include "sources/common/SourceWindow.h"
#include "sources/sane/SaneUi.h"

class wxButton;
class wxChoice;
class wxGauge;
class wxStaticText;

class SaneWindow : public SourceWindow {
public:
    // Makes and shows the window above the application's top window.
    static SaneWindow* Open(SaneSession& session, const SaneUiModel& model);
    // The window's name, by which tests find it.
    static constexpr const char* kWindowName = "velomarkSaneWindow";

private:
    struct Area {
        wxString label;
        double widthMm;
        double heightMm;
        double leftMm = 0;  // an area last used (or negotiated) may lie off the corner
        double topMm = 0;
    };

    SaneWindow(SaneSession& session, const SaneUiModel& model);
    void BuildControls();
    void BuildAreas();
    static bool Matches(const Area& area, double left, double top, double width, double height);
    SaneSettings SettingsFromControls() const;
    void OnScan(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void ShowProgress() override;

    SaneSession& m_session;
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
};
