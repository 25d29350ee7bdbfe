// The application object: settings, the recent-file list, the one document
// template and the main frame. It also turns every event that the main loop
// handles into a message for the main frame's per-message hook.
#pragma once

#include <wx/app.h>

#include "frame/MainFrame.h"
class CVelomarkDocManager;

class CScanprobeApp : public wxApp {
public:
    CScanprobeApp();
    bool OnInit() override;
    int OnExit() override;
    int FilterEvent(wxEvent& event) override;
    void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                          wxEvent& event) const override;

private:
    void OnAppAbout(wxCommandEvent& event);
    void OnFilePrintSetup(wxCommandEvent& event);

    CVelomarkDocManager* m_pDocManager = nullptr;
};
