#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "res/MainFrameResources.h"

namespace {

// The layout in dialog units: 235 x 55, icon, text and OK placed as on the original
// resource.
wxPoint At(wxWindow* dialog, int x, int y) { return dialog->ConvertDialogToPixels(wxPoint(x, y)); }

wxSize Extent(wxWindow* dialog, int w, int h) {
    return dialog->ConvertDialogToPixels(wxSize(w, h));
}

}  // namespace

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Velomark", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU) {
    SetClientSize(Extent(this, 235, 55));
    wxIcon icon = velomark::res::AppIcon();
    wxBitmap bitmap;
    bitmap.CopyFromIcon(icon);
    new wxStaticBitmap(this, wxID_ANY, bitmap, At(this, 11, 17));
    new wxStaticText(this, wxID_ANY, "Velomark Version 1.0", At(this, 40, 10), Extent(this, 119, 8),
                     wxST_NO_AUTORESIZE);
    auto* ok = new wxButton(this, wxID_OK, "OK", At(this, 178, 7), Extent(this, 50, 14));
    ok->SetDefault();
    ok->SetFocus();
    // Without a Cancel button Escape goes to OK.
    SetEscapeId(wxID_OK);
}
