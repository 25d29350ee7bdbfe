// The view of a document: its scroll extent follows the image, its drawing shows the
// image unscaled where the canvas is scrolled to, and a paint converts only what
// was invalidated.
#include <type_traits>  // before wx/weakref.h, which uses it without including it

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/weakref.h>

#include "docview/VelomarkCanvas.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"
#include "platform/WxDcSurface.h"
#include "res/CommandMap.h"
#include "res/ResourceIds.h"
#include "tests/docview/DocviewFixture.h"

namespace docviewtest {
namespace {

constexpr COLORREF kMarker = 0x00123456;

// What the view draws into a memory DC of the canvas's client size, prepared the way
// the canvas prepares its paint DC (scrolling moves the logical origin).
wxImage DrawVisible(CVelomarkView* view) {
    const wxSize size = view->Canvas()->GetClientSize();
    wxBitmap bitmap(size.x, size.y, 24);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(0x56, 0x34, 0x12)));
    dc.Clear();
    view->Canvas()->DoPrepareDC(dc);
    view->OnDraw(&dc);
    dc.SelectObject(wxNullBitmap);
    return bitmap.ConvertToImage();
}

class ViewDrawTest : public DocviewFixture {
protected:
    // A new document with a `width` x `height` pattern handed over as an acquired image is.
    CVelomarkDoc* DocumentWithImage(int width, int height) {
        CVelomarkDoc* doc = NewDocument();
        EXPECT_NE(doc, nullptr);
        if (!doc) return nullptr;
        FillPattern24(doc->ImageSide().Image(), width, height);
        doc->ImageSide().UpdateAllViews();
        doc->MarkSentToClient();  // closes without a question
        return doc;
    }

    // Waits until the window has painted everything it was asked to.
    void SettlePaints() {
        uint64_t before = WxDcSurface::PixelsPut();
        for (int i = 0; i < 20; ++i) {
            Pump(50);
            const uint64_t now = WxDcSurface::PixelsPut();
            if (now == before && i >= 2) return;
            before = now;
        }
    }
};

TEST_F(ViewDrawTest, EmptyDocumentHasNoExtentAndDrawsNothing) {
    CVelomarkDoc* doc = NewDocument();
    CVelomarkView* view = ViewOf(doc);
    ASSERT_NE(view, nullptr);
    // As File > New leaves it, and after an update.
    EXPECT_EQ(view->Canvas()->ImageExtent(), wxSize(0, 0));
    doc->UpdateAllViews();
    EXPECT_EQ(view->Canvas()->ImageExtent(), wxSize(0, 0));
    // Nothing to scroll: the virtual size is no more than the window.
    EXPECT_EQ(view->Canvas()->GetVirtualSize(), view->Canvas()->GetClientSize());
    const wxImage drawn = DrawVisible(view);
    ASSERT_TRUE(drawn.IsOk());
    for (int y = 0; y < drawn.GetHeight(); y += 7) {
        for (int x = 0; x < drawn.GetWidth(); x += 7) ASSERT_EQ(ColorAt(drawn, x, y), kMarker);
    }
}

TEST_F(ViewDrawTest, ExtentIsTheImageSize) {
    CVelomarkDoc* doc = DocumentWithImage(2000, 3000);
    CVelomarkView* view = ViewOf(doc);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Canvas()->ImageExtent(), wxSize(2000, 3000));
    EXPECT_EQ(view->Canvas()->GetVirtualSize(), wxSize(2000, 3000));
    // A smaller image that follows in the same document shrinks it again.
    FillPattern24(doc->m_dib, 30, 20);
    doc->UpdateAllViews();
    EXPECT_EQ(view->Canvas()->ImageExtent(), wxSize(30, 20));
}

TEST_F(ViewDrawTest, ScrolledToTheEndShowsTheBottomRightCorner) {
    CVelomarkView* view = ViewOf(DocumentWithImage(2000, 3000));
    ASSERT_NE(view, nullptr);
    Pump(50);
    CVelomarkCanvas* canvas = view->Canvas();
    canvas->Scroll(100000, 100000);
    const wxPoint start = canvas->CalcUnscrolledPosition(wxPoint(0, 0));
    const wxSize client = canvas->GetClientSize();
    ASSERT_GT(start.x, 0);
    ASSERT_GT(start.y, 0);
    ASSERT_GE(start.x + client.x, 2000);
    ASSERT_GE(start.y + client.y, 3000);

    const wxImage drawn = DrawVisible(view);
    // Window pixel (x, y) shows image pixel start + (x, y), unscaled.
    const wxPoint corner(1999 - start.x, 2999 - start.y);
    EXPECT_EQ(ColorAt(drawn, corner.x, corner.y), PatternColor(1999, 2999));
    EXPECT_EQ(ColorAt(drawn, 0, 0), PatternColor(start.x, start.y));
    EXPECT_EQ(ColorAt(drawn, corner.x - 13, corner.y - 200), PatternColor(1999 - 13, 2999 - 200));
    // Past the image's last column and row, nothing is drawn.
    if (corner.x + 1 < drawn.GetWidth()) {
        EXPECT_EQ(ColorAt(drawn, corner.x + 1, 0), kMarker);
    }
    if (corner.y + 1 < drawn.GetHeight()) {
        EXPECT_EQ(ColorAt(drawn, 0, corner.y + 1), kMarker);
    }
}

TEST_F(ViewDrawTest, PaintConvertsOnlyTheInvalidatedArea) {
    CVelomarkView* view = ViewOf(DocumentWithImage(2000, 3000));
    ASSERT_NE(view, nullptr);
    CVelomarkCanvas* canvas = view->Canvas();
    const uint64_t beforeFirstPaint = WxDcSurface::PixelsPut();
    SettlePaints();
    const wxSize client = canvas->GetClientSize();
    const uint64_t clientArea = uint64_t(client.x) * client.y;
    // The whole window is painted once it shows, and never more than the window.
    const uint64_t firstPaint = WxDcSurface::PixelsPut() - beforeFirstPaint;
    ASSERT_GT(firstPaint, 0u);
    EXPECT_EQ(firstPaint % clientArea, 0u) << firstPaint << " for " << client.x << "x" << client.y;

    canvas->Scroll(40, 60);
    SettlePaints();
    const uint64_t before = WxDcSurface::PixelsPut();
    canvas->RefreshRect(wxRect(10, 20, 30, 40));
    ASSERT_TRUE(PumpUntil([&] { return WxDcSurface::PixelsPut() != before; }, 3000));
    SettlePaints();
    EXPECT_EQ(WxDcSurface::PixelsPut() - before, 30u * 40u);
}

TEST_F(ViewDrawTest, ZoomedPaintScalesOnlyTheClipBox) {
    CVelomarkView* view = ViewOf(DocumentWithImage(600, 400));
    ASSERT_NE(view, nullptr);
    view->Canvas()->SetZoom(2.0);
    EXPECT_EQ(view->Canvas()->GetVirtualSize(), wxSize(1200, 800));

    // A window scrolled to (300, 200) whose paint is clipped to 40 x 30 units.
    wxBitmap bitmap(100, 80, 24);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(wxColour(0x56, 0x34, 0x12)));
        dc.Clear();
        dc.SetDeviceOrigin(-300, -200);
        dc.SetClippingRegion(wxRect(310, 210, 40, 30));
        const uint64_t before = WxDcSurface::PixelsPut();
        view->DrawImage(dc, 2.0, 1);
        EXPECT_EQ(WxDcSurface::PixelsPut() - before, 40u * 30u);
    }
    const wxImage drawn = bitmap.ConvertToImage();
    for (int y = 10; y < 40; y += 3) {
        for (int x = 10; x < 50; x += 3)
            ASSERT_EQ(ColorAt(drawn, x, y), PatternColor((300 + x) / 2, (200 + y) / 2))
                << x << "," << y;
    }
    EXPECT_EQ(ColorAt(drawn, 9, 10), kMarker);
    EXPECT_EQ(ColorAt(drawn, 50, 39), kMarker);

    // Fit Width, as the menu sends it: the page as wide as the window, no wider.
    wxCommandEvent fitWidth(wxEVT_MENU,
                            velomark::res::ToolkitId(velomark::res::ID_VIEW_ZOOM_FIT_WIDTH));
    view->ProcessEvent(fitWidth);
    Pump(50);
    const wxSize client = view->Canvas()->GetClientSize();
    EXPECT_LE(view->Canvas()->GetVirtualSize().x, client.x);
    EXPECT_GT(view->Canvas()->GetVirtualSize().x, client.x - 30);

    view->Canvas()->SetZoom(0.25);
    EXPECT_EQ(view->Canvas()->ImageExtent(), wxSize(600, 400));
    EXPECT_EQ(CVelomarkCanvas::LogicalExtent(wxSize(600, 400), 0.25, 1), wxSize(150, 100));
    // On a display scaled twice, the unscaled image takes half its pixels in units.
    EXPECT_EQ(CVelomarkCanvas::LogicalExtent(wxSize(5100, 6601), 1.0, 2), wxSize(2550, 3301));
}

TEST_F(ViewDrawTest, ClosingTheViewLeavesTheCanvasDrawingNothing) {
    CVelomarkDoc* doc = DocumentWithImage(50, 50);
    CVelomarkView* view = ViewOf(doc);
    CVelomarkCanvas* canvas = view->Canvas();
    wxWeakRef<wxWindow> canvasRef(canvas);
    ASSERT_TRUE(m_manager->CloseDocument(doc, false));
    // Until the window is gone, a paint must not reach the deleted view.
    if (canvasRef) {
        canvas->Refresh();
        canvas->Update();
    }
    EXPECT_TRUE(PumpUntil([&] { return !canvasRef; }, 2000));
}

}  // namespace
}  // namespace docviewtest
