#include "sources/testchart/TestChartWindow.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>

#include <algorithm>

#include "sources/testchart/TestChartSession.h"

namespace {

// Choice entries in the order of ChartPixelType and ChartPageSize.
const wxString kPixelTypeNames[] = {"Black and white (1-bit)", "Grey (4-bit)", "Grey (8-bit)",
                                    "Palette (8-bit)", "Colour (24-bit)"};
const wxString kPageSizeNames[] = {"US Letter (8.5 x 11 in)", "A4 (210 x 297 mm)",
                                   "US Legal (8.5 x 14 in)"};

}  // namespace

TestChartWindow* TestChartWindow::Open(TestChartSession& session,
                                       const TestChartSettings& settings) {
    auto* window = new TestChartWindow(session, settings);
    window->ShowAbove();
    return window;
}

TestChartWindow::TestChartWindow(TestChartSession& session, const TestChartSettings& settings)
    : SourceWindow(session, "Velomark Test Chart"), m_session(session), m_settings(settings) {
    BuildControls();
}

void TestChartWindow::BuildControls() {
    auto* panel = new wxPanel(this);
    auto* grid = new wxFlexGridSizer(2, wxSize(8, 6));
    grid->AddGrowableCol(1);

    m_pixelType = new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                               WXSIZEOF(kPixelTypeNames), kPixelTypeNames);
    m_pixelType->SetSelection(static_cast<int>(m_settings.pixelType));
    m_dpi = new wxSpinCtrl(panel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                           wxSP_ARROW_KEYS, TestChartSettings::kMinDpi, TestChartSettings::kMaxDpi,
                           m_settings.dpi);
    m_pageSize = new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                              WXSIZEOF(kPageSizeNames), kPageSizeNames);
    if (m_settings.pageSize == ChartPageSize::Custom)
        m_pageSize->Append(wxString::Format("Custom (%d x %d pixels)", m_settings.customWidth,
                                            m_settings.customHeight));
    m_pageSize->SetSelection(static_cast<int>(m_settings.pageSize));
    m_pages = new wxSpinCtrl(panel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                             wxSP_ARROW_KEYS, 1, TestChartSettings::kMaxPages, m_settings.pages);

    const auto addRow = [&](const wxString& label, wxWindow* control) {
        grid->Add(new wxStaticText(panel, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(control, 1, wxEXPAND);
    };
    addRow("Pixel type:", m_pixelType);
    addRow("Resolution (dpi):", m_dpi);
    addRow("Page size:", m_pageSize);
    addRow("Pages:", m_pages);

    m_gauge = new wxGauge(panel, wxID_ANY, 1);
    m_status = new wxStaticText(panel, wxID_ANY, "Ready");
    m_scan = new wxButton(panel, wxID_ANY, "&Scan");
    m_scan->Bind(wxEVT_BUTTON, &TestChartWindow::OnScan, this);
    LayOut(panel, grid, m_gauge, m_status, {m_scan});
}

TestChartSettings TestChartWindow::SettingsFromControls() const {
    TestChartSettings settings = m_settings;
    settings.pixelType = static_cast<ChartPixelType>(std::max(0, m_pixelType->GetSelection()));
    settings.dpi = m_dpi->GetValue();
    settings.pageSize = static_cast<ChartPageSize>(std::max(0, m_pageSize->GetSelection()));
    settings.pages = m_pages->GetValue();
    return settings;
}

void TestChartWindow::OnScan(wxCommandEvent&) {
    m_settings = SettingsFromControls();
    if (m_session.StartScan(m_settings)) {
        m_scan->Disable();
        m_status->SetLabel("Scanning...");
    }
}

void TestChartWindow::ShowProgress() {
    const TestChartProgress progress = m_session.Progress();
    m_gauge->SetRange(std::max(1, progress.asked));
    m_gauge->SetValue(std::clamp(progress.made, 0, std::max(1, progress.asked)));
    wxString status;
    if (!progress.running)
        status = progress.asked > 0 ? "Done" : "Ready";
    else if (progress.made < progress.asked)
        status.Printf("Making page %d of %d", progress.made + 1, progress.asked);
    else
        status.Printf("%d pages ready", progress.asked);
    if (m_status->GetLabel() != status) m_status->SetLabel(status);
    m_scan->Enable(!progress.running);
}
