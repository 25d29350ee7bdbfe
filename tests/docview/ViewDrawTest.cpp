// The view of a document: its scroll extent follows the image, its drawing shows the
// image unscaled where the canvas is scrolled to, and a paint converts only the tiles
// never shown at its zoom, with the pixels a straight drawing gives.
#include <type_traits>  // before wx/weakref.h, which uses it without including it

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/weakref.h>

#include <algorithm>
#include <string>

#include "docview/VelomarkCanvas.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"
#include "docview/ViewTileCache.h"
#include "platform/WxDcSurface.h"
#include "res/CommandMap.h"
#include "res/ResourceIds.h"
#include "tests/docview/DocviewFixture.h"

namespace docviewtest {
namespace {

constexpr COLORREF kMarker = 0x00123456;

// How DrawVisible draws: as printing does; straight at the canvas's zoom, as a paint
// did before it kept tiles; through the canvas's tiles, as a paint does.
enum class DrawnBy { OnDraw, StraightAtZoom, Tiles };

// What the view draws into a memory DC of the canvas's client size, prepared the way
// the canvas prepares its paint DC (scrolling moves the logical origin).
wxImage DrawVisible(CVelomarkView* view, DrawnBy road = DrawnBy::OnDraw) {
    CVelomarkCanvas* canvas = view->Canvas();
    const wxSize size = canvas->GetClientSize();
    wxBitmap bitmap(size.x, size.y, 24);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(0x56, 0x34, 0x12)));
    dc.Clear();
    canvas->DoPrepareDC(dc);
    if (road == DrawnBy::OnDraw) view->OnDraw(&dc);
    if (road == DrawnBy::StraightAtZoom) view->DrawImage(dc, canvas->Zoom(), canvas->DeviceScale());
    if (road == DrawnBy::Tiles) {
        const wxRect area(canvas->CalcUnscrolledPosition(wxPoint(0, 0)), size);
        dc.SetClippingRegion(area);
        canvas->PaintArea(dc, area);
    }
    dc.SelectObject(wxNullBitmap);
    return bitmap.ConvertToImage();
}

// Where two drawings first differ, or "" when they are the same.
std::string FirstDifference(const wxImage& a, const wxImage& b) {
    if (a.GetSize() != b.GetSize()) return "sizes differ";
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            if (ColorAt(a, x, y) != ColorAt(b, x, y))
                return "at " + std::to_string(x) + "," + std::to_string(y);
        }
    }
    return "";
}

// Device pixels in the tiles that cover `rect` of an image of `image` pixels.
uint64_t TileArea(const wxRect& rect, wxSize image) {
    const int side = ViewTileCache::kTileSide;
    const int left = rect.x / side * side, top = rect.y / side * side;
    const int right = std::min(image.x, (rect.GetRight() / side + 1) * side);
    const int bottom = std::min(image.y, (rect.GetBottom() / side + 1) * side);
    return uint64_t(right - left) * uint64_t(bottom - top);
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

TEST_F(ViewDrawTest, PaintConvertsOnlyTilesNeverShown) {
    CVelomarkView* view = ViewOf(DocumentWithImage(2000, 3000));
    ASSERT_NE(view, nullptr);
    CVelomarkCanvas* canvas = view->Canvas();
    const uint64_t beforeFirstPaint = WxDcSurface::PixelsPut();
    SettlePaints();
    const wxSize client = canvas->GetClientSize();
    // The window's paints convert the tiles under the window, once.
    const uint64_t firstPaint = WxDcSurface::PixelsPut() - beforeFirstPaint;
    ASSERT_GT(firstPaint, 0u);
    EXPECT_EQ(firstPaint, TileArea(wxRect(client), wxSize(2000, 3000)))
        << client.x << "x" << client.y;

    // Scrolled past the rows of those tiles, to a screen never shown: its tiles, once,
    // whether the window's paint or the drawing here makes them.
    canvas->Scroll(40, 60);
    const wxRect shown(canvas->CalcUnscrolledPosition(wxPoint(0, 0)), client);
    const int side = ViewTileCache::kTileSide;
    ASSERT_GE(shown.y, ((client.y - 1) / side + 1) * side);
    uint64_t before = WxDcSurface::PixelsPut();
    SettlePaints();
    DrawVisible(view, DrawnBy::Tiles);
    EXPECT_EQ(WxDcSurface::PixelsPut() - before, TileArea(shown, wxSize(2000, 3000)));

    // What was shown paints again from the tiles.
    before = WxDcSurface::PixelsPut();
    canvas->RefreshRect(wxRect(10, 20, 30, 40));
    SettlePaints();
    DrawVisible(view, DrawnBy::Tiles);
    EXPECT_EQ(WxDcSurface::PixelsPut() - before, 0u);
}

TEST_F(ViewDrawTest, TilesGiveTheStraightPixelsUnscaledAndZoomed) {
    CVelomarkView* view = ViewOf(DocumentWithImage(1300, 900));
    ASSERT_NE(view, nullptr);
    CVelomarkCanvas* canvas = view->Canvas();
    // The tiles of one zoom must not serve the next.
    for (double zoom : {1.0, 1.5, 2.0 / 3}) {
        canvas->SetZoom(zoom);
        canvas->Scroll(9, 7);  // off the tiles' edges
        const wxImage straight = DrawVisible(view, DrawnBy::StraightAtZoom);
        const wxImage made = DrawVisible(view, DrawnBy::Tiles);
        const wxImage kept = DrawVisible(view, DrawnBy::Tiles);
        EXPECT_EQ(FirstDifference(made, straight), "") << "zoom " << zoom;
        EXPECT_EQ(FirstDifference(kept, straight), "") << "zoom " << zoom;
    }
}

TEST_F(ViewDrawTest, ReplacedImageIsNotShownFromOldTiles) {
    CVelomarkDoc* doc = DocumentWithImage(600, 400);
    CVelomarkView* view = ViewOf(doc);
    ASSERT_NE(view, nullptr);
    const wxImage first = DrawVisible(view, DrawnBy::Tiles);
    // The next page, the same size, in the same document.
    FillIndexed(doc->ImageSide().Image(), 600, 400, 8, 11);
    doc->ImageSide().UpdateAllViews();
    const wxImage second = DrawVisible(view, DrawnBy::Tiles);
    EXPECT_NE(FirstDifference(second, first), "");
    EXPECT_EQ(FirstDifference(second, DrawVisible(view, DrawnBy::StraightAtZoom)), "");
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
