#include "docview/VelomarkPrintout.h"

#include <wx/dc.h>

#include "docview/VelomarkView.h"

CVelomarkPrintout::CVelomarkPrintout(CVelomarkView* view, const wxString& title)
    : wxPrintout(title), m_view(view) {}

bool CVelomarkPrintout::OnPrintPage(int page) {
    wxDC* dc = GetDC();
    if (!dc || !m_view || page != 1) return false;
    // A printer DC maps one to one; a preview's DC is smaller than the page and gets
    // the scale that shows the same page.
    MapScreenSizeToDevice();
    dc->SetLogicalOrigin(0, 0);
    m_view->OnDraw(dc);
    return true;
}

void CVelomarkPrintout::GetPageInfo(int* minPage, int* maxPage, int* selectedFrom,
                                    int* selectedTo) {
    *minPage = *maxPage = *selectedFrom = *selectedTo = 1;
}
