#include "sources/testchart/TestChartLayout.h"

#include <algorithm>

#include "sources/common/SourceConditions.h"

namespace {

int64_t ToUnits(const TW_FIX32& value) {
    return int64_t(value.Whole) * ChartFrame::kUnitsPerInch + value.Frac;
}

// Exact: the bed is at most 20000 pixels at 25 dpi, far inside a TW_FIX32.
TW_FIX32 FromUnits(int64_t units) {
    return TW_FIX32{static_cast<TW_INT16>(units >> 16), static_cast<TW_UINT16>(units & 0xffff)};
}

}  // namespace

ChartFrame TestChartLayout::WholeBed(const TestChartSettings& settings) {
    return ChartFrame{0, 0, settings.BedWidthUnits(), settings.BedHeightUnits()};
}

TestChartLayout::Fit TestChartLayout::FitToBed(const TestChartSettings& settings,
                                               ChartFrame* frame) {
    if (frame->right <= frame->left || frame->bottom <= frame->top) return Fit::Refused;
    const ChartFrame bed = WholeBed(settings);
    const ChartFrame cut{std::max(frame->left, bed.left), std::max(frame->top, bed.top),
                         std::min(frame->right, bed.right), std::min(frame->bottom, bed.bottom)};
    if (cut.right <= cut.left || cut.bottom <= cut.top) return Fit::Refused;
    const Fit fit = cut == *frame ? Fit::Inside : Fit::Cut;
    *frame = cut;
    return fit;
}

TW_UINT16 TestChartLayout::Handle(TW_UINT16 msg, TW_IMAGELAYOUT* layout, bool setAllowed,
                                  TW_UINT16* condition) {
    switch (msg) {
        case MSG_GET:
        case MSG_GETCURRENT: Fill(m_settings.area.value_or(WholeBed(m_settings)), layout); break;
        case MSG_GETDEFAULT: Fill(WholeBed(m_settings), layout); break;
        case MSG_SET:
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            return Set(*layout, condition);
        case MSG_RESET:
            if (!setAllowed) return FailWith(condition, TWCC_SEQERROR);
            m_settings.area.reset();
            Fill(WholeBed(m_settings), layout);
            break;
        default: return FailWith(condition, TWCC_BADPROTOCOL);
    }
    return TWRC_SUCCESS;
}

TW_UINT16 TestChartLayout::Set(const TW_IMAGELAYOUT& layout, TW_UINT16* condition) {
    ChartFrame frame{ToUnits(layout.Frame.Left), ToUnits(layout.Frame.Top),
                     ToUnits(layout.Frame.Right), ToUnits(layout.Frame.Bottom)};
    const Fit fit = FitToBed(m_settings, &frame);
    if (fit == Fit::Refused) return FailWith(condition, TWCC_BADVALUE);
    // The whole bed is kept as no area, which stays the whole bed whatever the
    // resolution or page size becomes.
    if (frame == WholeBed(m_settings))
        m_settings.area.reset();
    else
        m_settings.area = frame;
    if (fit == Fit::Inside) return TWRC_SUCCESS;
    *condition = TWCC_BADVALUE;
    return TWRC_CHECKSTATUS;
}

void TestChartLayout::Fill(const ChartFrame& frame, TW_IMAGELAYOUT* layout) {
    layout->Frame = TW_FRAME{FromUnits(frame.left), FromUnits(frame.top), FromUnits(frame.right),
                             FromUnits(frame.bottom)};
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
}
