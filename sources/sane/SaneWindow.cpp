#include "sources/sane/SaneWindow.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sources/sane/SaneSession.h"

namespace {

constexpr int kGaugeRange = 1000;

struct PaperSize {
    const char* label;
    double widthMm;
    double heightMm;
};
const PaperSize kPaperSizes[] = {
    {"A4 (210 x 297 mm)", 210, 297},          {"US Letter (8.5 x 11 in)", 215.9, 279.4},
    {"US Legal (8.5 x 14 in)", 215.9, 355.6}, {"A5 (148 x 210 mm)", 148, 210},
    {"A6 (105 x 148 mm)", 105, 148},          {"Photo (4 x 6 in)", 101.6, 152.4},
};

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text.c_str()); }

double NumberOr(const SaneSettings& settings, const char* name, double fallback) {
    const std::string* text = settings.Find(name);
    if (!text) return fallback;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    return end != text->c_str() ? value : fallback;
}

wxString DpiText(double dpi) { return wxString::Format("%g", dpi); }

// A choice of the entries with `current` selected (added when it is not among them).
void Select(wxChoice* choice, const wxString& current) {
    int index = choice->FindString(current);
    if (index == wxNOT_FOUND && !current.empty()) index = choice->Append(current);
    choice->SetSelection(index == wxNOT_FOUND ? 0 : index);
}

}  // namespace

SaneWindow* SaneWindow::Open(SaneSession& session, const SaneUiModel& model) {
    auto* window = new SaneWindow(session, model);
    window->ShowAbove();
    return window;
}

SaneWindow::SaneWindow(SaneSession& session, const SaneUiModel& model)
    : SourceWindow(session, FromUtf8(model.title), kWindowName),
      m_session(session),
      m_model(model) {
    BuildAreas();
    BuildControls();
}

void SaneWindow::BuildAreas() {
    const double maxWidth = m_model.choices.maxWidthMm;
    const double maxHeight = m_model.choices.maxHeightMm;
    if (maxWidth <= 0 || maxHeight <= 0) return;
    m_areas.push_back(
        {wxString::Format("Whole area (%g x %g mm)", maxWidth, maxHeight), maxWidth, maxHeight});
    for (const PaperSize& paper : kPaperSizes)
        if (paper.widthMm <= maxWidth && paper.heightMm <= maxHeight)
            m_areas.push_back({paper.label, paper.widthMm, paper.heightMm});
    const double left = NumberOr(m_model.settings, "tl-x", 0);
    const double top = NumberOr(m_model.settings, "tl-y", 0);
    const double width = NumberOr(m_model.settings, "br-x", maxWidth) - left;
    const double height = NumberOr(m_model.settings, "br-y", maxHeight) - top;
    const bool known = std::any_of(m_areas.begin(), m_areas.end(), [&](const Area& area) {
        return Matches(area, left, top, width, height);
    });
    if (!known && width > 0 && height > 0)
        m_areas.push_back({wxString::Format("As last used (%g x %g mm)", width, height), width,
                           height, left, top});
}

bool SaneWindow::Matches(const Area& area, double left, double top, double width, double height) {
    return std::fabs(area.leftMm - left) < 0.5 && std::fabs(area.topMm - top) < 0.5 &&
           std::fabs(area.widthMm - width) < 0.5 && std::fabs(area.heightMm - height) < 0.5;
}

void SaneWindow::BuildControls() {
    auto* panel = new wxPanel(this);
    auto* grid = new wxFlexGridSizer(2, wxSize(8, 6));
    grid->AddGrowableCol(1);
    const auto addRow = [&](const wxString& label, wxWindow* control) {
        grid->Add(new wxStaticText(panel, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(control, 1, wxEXPAND);
    };
    const auto stringChoice = [&](const std::vector<std::string>& entries, const char* option) {
        auto* choice = new wxChoice(panel, wxID_ANY);
        for (const std::string& entry : entries) choice->Append(FromUtf8(entry));
        const std::string* current = m_model.settings.Find(option);
        Select(choice, current ? FromUtf8(*current) : wxString());
        return choice;
    };

    if (!m_model.choices.modes.empty()) {
        m_mode = stringChoice(m_model.choices.modes, "mode");
        addRow("Mode:", m_mode);
    }
    if (!m_model.choices.resolutions.empty()) {
        m_resolution = new wxChoice(panel, wxID_ANY);
        for (double dpi : m_model.choices.resolutions) m_resolution->Append(DpiText(dpi));
        const std::string* current = m_model.settings.Find("resolution");
        Select(m_resolution,
               current ? DpiText(NumberOr(m_model.settings, "resolution", 0)) : wxString());
        addRow("Resolution (dpi):", m_resolution);
    }
    if (!m_model.choices.sources.empty()) {
        m_source = stringChoice(m_model.choices.sources, "source");
        addRow("Source:", m_source);
    }
    if (!m_areas.empty()) {
        m_area = new wxChoice(panel, wxID_ANY);
        for (const Area& area : m_areas) m_area->Append(area.label);
        // The last entry is what was used last, unless that is one of the sizes.
        const double left = NumberOr(m_model.settings, "tl-x", 0);
        const double top = NumberOr(m_model.settings, "tl-y", 0);
        const double width = NumberOr(m_model.settings, "br-x", m_areas[0].widthMm) - left;
        const double height = NumberOr(m_model.settings, "br-y", m_areas[0].heightMm) - top;
        int selected = int(m_areas.size()) - 1;
        for (size_t i = 0; i < m_areas.size(); ++i)
            if (Matches(m_areas[i], left, top, width, height)) {
                selected = int(i);
                break;
            }
        m_area->SetSelection(selected);
        addRow("Scan area:", m_area);
    }

    m_gauge = new wxGauge(panel, wxID_ANY, kGaugeRange);
    m_status = new wxStaticText(panel, wxID_ANY, "Ready", wxDefaultPosition, wxSize(320, -1),
                                wxST_NO_AUTORESIZE);
    m_scan = new wxButton(panel, wxID_ANY, "&Scan");
    m_cancel = new wxButton(panel, wxID_CANCEL, "C&ancel");
    m_cancel->Disable();
    m_scan->Bind(wxEVT_BUTTON, &SaneWindow::OnScan, this);
    m_cancel->Bind(wxEVT_BUTTON, &SaneWindow::OnCancel, this);
    LayOut(panel, grid, m_gauge, m_status, {m_scan, m_cancel});
}

SaneSettings SaneWindow::SettingsFromControls() const {
    SaneSettings settings = m_model.settings;
    if (m_mode && m_mode->GetSelection() != wxNOT_FOUND)
        settings.Set("mode", m_mode->GetStringSelection().ToStdString(wxConvUTF8));
    if (m_resolution && m_resolution->GetSelection() != wxNOT_FOUND)
        settings.Set("resolution", m_resolution->GetStringSelection().ToStdString());
    if (m_source && m_source->GetSelection() != wxNOT_FOUND)
        settings.Set("source", m_source->GetStringSelection().ToStdString(wxConvUTF8));
    if (m_area && m_area->GetSelection() != wxNOT_FOUND) {
        const Area& area = m_areas[size_t(m_area->GetSelection())];
        settings.Set("tl-x", wxString::Format("%g", area.leftMm).ToStdString());
        settings.Set("tl-y", wxString::Format("%g", area.topMm).ToStdString());
        settings.Set("br-x", wxString::Format("%g", area.leftMm + area.widthMm).ToStdString());
        settings.Set("br-y", wxString::Format("%g", area.topMm + area.heightMm).ToStdString());
    }
    return settings;
}

void SaneWindow::OnScan(wxCommandEvent&) {
    m_model.settings = SettingsFromControls();
    if (m_session.StartScan(m_model.settings)) {
        m_scan->Disable();
        m_cancel->Enable();
        m_gauge->SetValue(0);
        m_status->SetLabel("Starting...");
    }
}

void SaneWindow::OnCancel(wxCommandEvent&) {
    m_session.CancelScan();
    m_status->SetLabel("Cancelling...");
}

void SaneWindow::ShowProgress() {
    const SaneScanProgress progress = m_session.Progress();
    wxString status;
    if (progress.running) {
        const int page = progress.pagesScanned + 1;
        if (progress.pageBytesExpected > 0) {
            const double share =
                std::min(1.0, double(progress.pageBytesRead) / double(progress.pageBytesExpected));
            m_gauge->SetValue(int(share * kGaugeRange));
            status.Printf("Scanning page %d: %d%%", page, int(share * 100));
        } else {
            m_gauge->Pulse();
            status.Printf("Scanning page %d: %zu KB", page, progress.pageBytesRead / 1024);
        }
    } else {
        switch (progress.end) {
            case SaneBatchEnd::Running: status = "Ready"; break;
            case SaneBatchEnd::Done:
                status.Printf(progress.pagesScanned == 1 ? "Done: %d page" : "Done: %d pages",
                              progress.pagesScanned);
                break;
            case SaneBatchEnd::FeederEmpty: status = "The document feeder is empty."; break;
            case SaneBatchEnd::Cancelled: status = "Cancelled"; break;
            case SaneBatchEnd::Failed:
                status = "Error: " + FromUtf8(progress.message);
                if (progress.pagesScanned > 0)
                    status += wxString::Format(" (%d pages scanned)", progress.pagesScanned);
                break;
        }
        if (progress.end == SaneBatchEnd::Done && !progress.message.empty())
            status += " (" + FromUtf8(progress.message) + ")";
        m_gauge->SetValue(progress.end == SaneBatchEnd::Done ? kGaugeRange : 0);
    }
    if (m_status->GetLabel() != status) {
        m_status->SetLabel(status);
        m_status->SetToolTip(status);
    }
    m_scan->Enable(!progress.running);
    m_cancel->Enable(progress.running);
}
