// The About box: the icon, "Velomark Version 1.0" and OK; Escape closes it too.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};
