// The test chart's small modeless window: pixel type, resolution, page size and number
// of pages, Scan, Close and a progress bar. Pages are made by the session's worker
// thread; the window's life is SourceWindow's.
#pragma once

#include "sources/common/SourceWindow.h"
#include "sources/testchart/TestChartSettings.h"
#include "sources/testchart/TestChartUi.h"

class wxButton;
class wxChoice;
class wxGauge;
class wxSpinCtrl;
class wxStaticText;

class TestChartWindow : public SourceWindow {
public:
    // Makes and shows the window above the application's top window.
    static TestChartWindow* Open(TestChartSession& session, const TestChartSettings& settings);

private:
    TestChartWindow(TestChartSession& session, const TestChartSettings& settings);
    void BuildControls();
    TestChartSettings SettingsFromControls() const;
    void OnScan(wxCommandEvent& event);
    void ShowProgress() override;

    TestChartSession& m_session;
    TestChartSettings m_settings;  // keeps a custom page size, which the window cannot edit
    wxChoice* m_pixelType = nullptr;
    wxSpinCtrl* m_dpi = nullptr;
    wxChoice* m_pageSize = nullptr;
    wxSpinCtrl* m_pages = nullptr;
    wxGauge* m_gauge = nullptr;
    wxStaticText* m_status = nullptr;
    wxButton* m_scan = nullptr;
};
