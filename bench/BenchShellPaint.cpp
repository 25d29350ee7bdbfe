// Painting one 1000 x 800 viewport of a 2000 x 3000 24-bit image, scrolled to the
// middle, the way the desktop program's view paints: CDIB::Draw onto a WxDcSurface
// of a DC clipped to the viewport. Beside it, in the same iterations and untimed,
// the cheapest ways to put the same pixels on the same DC: DrawBitmap of a ready
// wxBitmap, and a memcpy of the viewport's RGB bytes. The counters x_drawbitmap and
// x_memcpy are the paint's time divided by theirs. Needs a display (xvfb-run -a).
#include <benchmark/benchmark.h>
#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dib/Dib.h"
#include "docview/ViewTileCache.h"
#include "platform/WxDcSurface.h"
#include "bench/BenchClock.h"

namespace {

constexpr int kImageWidth = 2000;
constexpr int kImageHeight = 3000;
constexpr int kViewWidth = 1000;
constexpr int kViewHeight = 800;
constexpr int kScrollX = (kImageWidth - kViewWidth) / 2;
constexpr int kScrollY = (kImageHeight - kViewHeight) / 2;
constexpr int64_t kViewPixels = int64_t(kViewWidth) * kViewHeight;

using Clock = std::chrono::steady_clock;

// The toolkit with its GUI side, started once for every benchmark of the program.
void EnsureWxStarted() {
    static const bool started = [] {
        if (wxTheApp) return true;
        wxApp::SetInstance(new wxApp);
        static int argc = 1;
        static char name[] = "bench-shell";
        static char* argv[] = {name, nullptr};
        return wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
    }();
    if (!started) {
        std::fprintf(stderr, "bench-shell: cannot start wxWidgets (is there an X display?)\n");
        std::exit(1);
    }
}

const CDIB& Image() {
    static CDIB image;
    if (!image.m_pBlock) {
        if (!image.Create(kImageWidth, kImageHeight, 24)) std::abort();
        for (int y = 0; y < kImageHeight; ++y) {
            BYTE* p = image.GetRowPtr(y);
            for (int x = 0; x < kImageWidth; ++x, p += 3) {
                p[0] = BYTE(x * 255 / kImageWidth);
                p[1] = BYTE(y * 255 / kImageHeight);
                p[2] = BYTE((x ^ y) & 0xFF);
            }
        }
    }
    return image;
}

// The window's stand-in: a viewport-sized memory DC scrolled to the middle of the
// image and clipped to what is visible, as a paint DC is.
struct Viewport {
    wxBitmap target{kViewWidth, kViewHeight, 24};
    wxMemoryDC dc{target};
    Viewport() {
        dc.SetDeviceOrigin(-kScrollX, -kScrollY);
        dc.SetClippingRegion(kScrollX, kScrollY, kViewWidth, kViewHeight);
    }
};

// The same pixels ready to draw, and as plain bytes.
struct References {
    wxBitmap ready{kViewWidth, kViewHeight, 24};
    std::vector<unsigned char> from = std::vector<unsigned char>(size_t(kViewPixels) * 3, 7);
    std::vector<unsigned char> to = std::vector<unsigned char>(size_t(kViewPixels) * 3);

    void DrawBitmap(wxMemoryDC& dc) { dc.DrawBitmap(ready, kScrollX, kScrollY, false); }
    void Memcpy() {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
    }
};

void BM_PaintViewport(benchmark::State& state) {
    EnsureWxStarted();
    const CDIB& image = Image();
    Viewport view;
    References references;
    WxDcSurface surface(view.dc);
    double paintSeconds = 0, drawBitmapSeconds = 0, memcpySeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto start = Clock::now();
        references.DrawBitmap(view.dc);
        drawBitmapSeconds += SecondsSince(start);
        start = Clock::now();
        references.Memcpy();
        memcpySeconds += SecondsSince(start);
        state.ResumeTiming();
        start = Clock::now();
        image.Draw(&surface, 0, 0, kImageWidth, kImageHeight, 0, 0);
        paintSeconds += SecondsSince(start);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kViewPixels);
    state.counters["x_drawbitmap"] = paintSeconds / drawBitmapSeconds;
    state.counters["x_memcpy"] = paintSeconds / memcpySeconds;
}
BENCHMARK(BM_PaintViewport)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 600 dpi Letter page (5100 x 6600) shown zoomed (the argument in percent) in the
// same 1000 x 800 viewport, scrolled to its middle, the way the view paints a zoom:
// StretchDraw of the whole page onto a surface clipped to the viewport, so only the
// visible part is scaled. Beside it, in the same iterations and untimed, the unscaled
// paint of the same viewport of the same page: x_unscaled is the zoomed paint's time
// divided by it, x_memcpy by a memcpy of the viewport's RGB bytes.
constexpr int kPageWidth = 5100;
constexpr int kPageHeight = 6600;

const CDIB& Page600() {
    static CDIB page;
    if (!page.m_pBlock) {
        if (!page.Create(kPageWidth, kPageHeight, 24)) std::abort();
        for (int y = 0; y < kPageHeight; ++y) {
            BYTE* p = page.GetRowPtr(y);
            for (int x = 0; x < kPageWidth; ++x, p += 3)
                p[0] = BYTE(x >> 4), p[1] = BYTE(y >> 4), p[2] = BYTE((x ^ y) & 0xFF);
        }
    }
    return page;
}

struct PageViewport {
    wxBitmap target{kViewWidth, kViewHeight, 24};
    wxMemoryDC dc{target};
    PageViewport(int virtualWidth, int virtualHeight) {
        const int x = std::max(0, (virtualWidth - kViewWidth) / 2);
        const int y = std::max(0, (virtualHeight - kViewHeight) / 2);
        dc.SetDeviceOrigin(-x, -y);
        dc.SetClippingRegion(x, y, kViewWidth, kViewHeight);
    }
};

void BM_PaintZoomedViewport600Dpi(benchmark::State& state) {
    EnsureWxStarted();
    const CDIB& page = Page600();
    const double zoom = state.range(0) / 100.0;
    const int width = int(kPageWidth * zoom + 0.5), height = int(kPageHeight * zoom + 0.5);
    PageViewport zoomed(width, height);
    PageViewport unscaled(kPageWidth, kPageHeight);
    References references;
    WxDcSurface zoomedSurface(zoomed.dc), unscaledSurface(unscaled.dc);
    double paintSeconds = 0, unscaledSeconds = 0, memcpySeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto start = Clock::now();
        page.Draw(&unscaledSurface, 0, 0, kPageWidth, kPageHeight, 0, 0);
        unscaledSeconds += SecondsSince(start);
        start = Clock::now();
        references.Memcpy();
        memcpySeconds += SecondsSince(start);
        state.ResumeTiming();
        start = Clock::now();
        page.StretchDraw(&zoomedSurface, 0, 0, width, height, 0, 0, kPageWidth, kPageHeight);
        paintSeconds += SecondsSince(start);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kViewPixels);
    state.counters["x_unscaled"] = paintSeconds / unscaledSeconds;
    state.counters["x_memcpy"] = paintSeconds / memcpySeconds;
}
BENCHMARK(BM_PaintZoomedViewport600Dpi)
    ->Arg(25)
    ->Arg(50)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Scrolling the 600 dpi page at 100% by one screen, down the page from its top, in the
// same 1000 x 800 viewport, through the view's tiles (ViewTileCache, each tile made by
// CDIB::Draw onto a WxDcSurface of the tile's DC, as the view makes them). The argument:
// 0, the straight paint of the screen, as a view painted before it kept tiles; 1, the
// first paint of a screen never shown (its tiles made, but for the row it shares with
// the screen above); 2, the same screen painted again (every tile kept). Beside it, in
// the same iterations and untimed, DrawBitmap of a ready viewport-sized bitmap at the
// same place (x_drawbitmap) and a memcpy of the viewport's RGB bytes (x_memcpy).
enum ScreenPaint { kStraight, kTilesMade, kTilesKept };

void BM_PaintScrolledScreen600Dpi(benchmark::State& state) {
    EnsureWxStarted();
    const CDIB& page = Page600();
    const auto road = ScreenPaint(state.range(0));
    const wxSize drawn(kPageWidth, kPageHeight);
    wxBitmap target(kViewWidth, kViewHeight, 24);
    wxMemoryDC dc(target);
    References references;
    ViewTileCache tiles;
    const ViewTileCache::MakeTile make = [&page](wxDC& tile) {
        WxDcSurface surface(tile);
        page.Draw(&surface, 0, 0, kPageWidth, kPageHeight, 0, 0);
    };
    const int screens = (kPageHeight - kViewHeight) / kViewHeight + 1;
    int screen = 0;
    double paintSeconds = 0, drawBitmapSeconds = 0, memcpySeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (screen == screens) {
            screen = 0;
            tiles.Drop();  // back at the top of a page never shown
        }
        const wxRect area((kPageWidth - kViewWidth) / 2, screen * kViewHeight, kViewWidth,
                          kViewHeight);
        dc.DestroyClippingRegion();
        dc.SetDeviceOrigin(-area.x, -area.y);
        dc.SetClippingRegion(area);
        if (road == kTilesKept) tiles.Paint(dc, area, 1.0, 1, drawn, make);
        auto start = Clock::now();
        dc.DrawBitmap(references.ready, area.x, area.y, false);
        drawBitmapSeconds += SecondsSince(start);
        start = Clock::now();
        references.Memcpy();
        memcpySeconds += SecondsSince(start);
        state.ResumeTiming();
        start = Clock::now();
        if (road == kStraight) {
            WxDcSurface surface(dc);
            page.Draw(&surface, 0, 0, kPageWidth, kPageHeight, 0, 0);
        } else {
            tiles.Paint(dc, area, 1.0, 1, drawn, make);
        }
        paintSeconds += SecondsSince(start);
        ++screen;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kViewPixels);
    state.counters["x_drawbitmap"] = paintSeconds / drawBitmapSeconds;
    state.counters["x_memcpy"] = paintSeconds / memcpySeconds;
}
BENCHMARK(BM_PaintScrolledScreen600Dpi)
    ->ArgName("road")
    ->Arg(kStraight)
    ->Arg(kTilesMade)
    ->Arg(kTilesKept)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_DrawBitmapViewport(benchmark::State& state) {
    EnsureWxStarted();
    Viewport view;
    References references;
    for (auto _ : state) references.DrawBitmap(view.dc);
    state.SetItemsProcessed(int64_t(state.iterations()) * kViewPixels);
}
BENCHMARK(BM_DrawBitmapViewport)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpyViewport(benchmark::State& state) {
    References references;
    for (auto _ : state) references.Memcpy();
    state.SetBytesProcessed(int64_t(state.iterations()) * kViewPixels * 3);
}
BENCHMARK(BM_MemcpyViewport)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
