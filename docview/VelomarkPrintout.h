// One page: the view's drawing, one image pixel per printer device unit, at the
// top-left of the printable area (a preview scales the same page to its window).
#pragma once

#include <wx/print.h>

class CVelomarkView;

class CVelomarkPrintout : public wxPrintout {
public:
    CVelomarkPrintout(CVelomarkView* view, const wxString& title);

    bool OnPrintPage(int page) override;
    bool HasPage(int page) override { return page == 1; }
    void GetPageInfo(int* minPage, int* maxPage, int* selectedFrom, int* selectedTo) override;

private:
    CVelomarkView* m_view;
};
