// The test chart's small modeless window: pixel type, resolution, page size and number
// of pages, Scan, Close and a progress bar. It never waits: pages are made by the
// session's worker thread, and a timer on the window's thread reads the progress.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include "sources/testchart/TestChartSettings.h"
#include "sources/testchart/TestChartUi.h"

class wxButton;
class wxChoice;
class wxGauge;
class wxSpinCtrl;
class wxStaticText;

class TestChartWindow : public wxFrame, public SourceUi {
public:
    // Makes and shows the window above the application's top window.
    static TestChartWindow* Open(TestChartSession& session, const TestChartSettings& settings);
    ~TestChartWindow() override;

    void Dismiss() override;

private:
    TestChartWindow(wxWindow* parent, TestChartSession& session, const TestChartSettings& settings);
    void BuildControls();
    TestChartSettings SettingsFromControls() const;
    void OnScan(wxCommandEvent& event);
    void OnCloseButton(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);
    void OnTimer(wxTimerEvent& event);

    TestChartSession* m_session;   // null once dismissed
    TestChartSettings m_settings;  // keeps a custom page size, which the window cannot edit
    wxChoice* m_pixelType = nullptr;
    wxSpinCtrl* m_dpi = nullptr;
    wxChoice* m_pageSize = nullptr;
    wxSpinCtrl* m_pages = nullptr;
    wxGauge* m_gauge = nullptr;
    wxStaticText* m_status = nullptr;
    wxButton* m_scan = nullptr;
    wxTimer m_timer;
};
