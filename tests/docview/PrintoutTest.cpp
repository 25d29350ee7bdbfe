// The printed page: the view's image at the top-left, one image pixel per device
// unit, on one page, whatever mapping the DC had before.
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/print.h>

#include <memory>

#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"
#include "tests/docview/DocviewFixture.h"

namespace docviewtest {
namespace {

constexpr COLORREF kMarker = 0x00123456;

class PrintoutTest : public DocviewFixture {
protected:
    // Prints page 1 of a 300 x 200 image into a `dcSize` memory DC standing for a
    // page of `pageSize` printer pixels.
    wxImage PrintPage(const wxSize& dcSize, const wxSize& pageSize) {
        CVelomarkDoc* doc = NewDocument();
        EXPECT_NE(doc, nullptr);
        if (!doc) return wxImage();
        FillPattern24(doc->m_dib, 300, 200);
        doc->UpdateAllViews();
        std::unique_ptr<wxPrintout> printout(ViewOf(doc)->OnCreatePrintout());
        EXPECT_EQ(printout->GetTitle(), "Velomark1");

        wxBitmap bitmap(dcSize.x, dcSize.y, 24);
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(wxColour(0x56, 0x34, 0x12)));
        dc.Clear();
        // A mapping left over from elsewhere must not move or scale the page.
        dc.SetUserScale(2.0, 2.0);
        dc.SetLogicalOrigin(25, 35);
        dc.SetDeviceOrigin(7, 9);
        printout->SetDC(&dc);
        printout->SetPageSizePixels(pageSize.x, pageSize.y);
        int minPage = 0, maxPage = 0, from = 0, to = 0;
        printout->GetPageInfo(&minPage, &maxPage, &from, &to);
        EXPECT_EQ(minPage, 1);
        EXPECT_EQ(maxPage, 1);
        EXPECT_TRUE(printout->HasPage(1));
        EXPECT_FALSE(printout->HasPage(2));
        EXPECT_TRUE(printout->OnPrintPage(1));
        dc.SelectObject(wxNullBitmap);
        return bitmap.ConvertToImage();
    }
};

TEST_F(PrintoutTest, PageShowsTheImageUnscaledAtTheTopLeft) {
    const wxImage page = PrintPage(wxSize(400, 300), wxSize(400, 300));
    ASSERT_TRUE(page.IsOk());
    for (int y = 0; y < 200; y += 9) {
        for (int x = 0; x < 300; x += 11) ASSERT_EQ(ColorAt(page, x, y), PatternColor(x, y));
    }
    EXPECT_EQ(ColorAt(page, 299, 199), PatternColor(299, 199));
    EXPECT_EQ(ColorAt(page, 300, 0), kMarker);
    EXPECT_EQ(ColorAt(page, 0, 200), kMarker);
    EXPECT_EQ(ColorAt(page, 399, 299), kMarker);
}

TEST_F(PrintoutTest, PreviewShowsTheSamePageScaledToItsWindow) {
    // A preview's DC half the page's size shows the image in half as many pixels.
    const wxImage page = PrintPage(wxSize(400, 300), wxSize(800, 600));
    ASSERT_TRUE(page.IsOk());
    EXPECT_NE(ColorAt(page, 2, 2), kMarker);
    EXPECT_NE(ColorAt(page, 148, 98), kMarker);
    EXPECT_EQ(ColorAt(page, 152, 50), kMarker);
    EXPECT_EQ(ColorAt(page, 50, 102), kMarker);
}

TEST_F(PrintoutTest, EmptyDocumentPrintsABlankPage) {
    CVelomarkDoc* doc = NewDocument();
    std::unique_ptr<wxPrintout> printout(ViewOf(doc)->OnCreatePrintout());
    wxBitmap bitmap(64, 64, 24);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(0x56, 0x34, 0x12)));
    dc.Clear();
    printout->SetDC(&dc);
    printout->SetPageSizePixels(64, 64);
    EXPECT_TRUE(printout->OnPrintPage(1));
    dc.SelectObject(wxNullBitmap);
    const wxImage page = bitmap.ConvertToImage();
    EXPECT_EQ(ColorAt(page, 0, 0), kMarker);
    EXPECT_EQ(ColorAt(page, 63, 63), kMarker);
}

}  // namespace
}  // namespace docviewtest
