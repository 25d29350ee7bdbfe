// The area to scan (DG_IMAGE / DAT_IMAGELAYOUT), in inches from the bed's top-left
// corner. The whole bed is the default. A frame reaching past the bed is cut to it
// (TWRC_CHECKSTATUS); an empty or inverted frame, or one wholly off the bed, is
// refused (TWCC_BADVALUE).
#pragma once

#include "sources/testchart/TestChartSettings.h"
#include "twain/TwainTypes.h"

class TestChartLayout {
public:
    explicit TestChartLayout(TestChartSettings& settings) : m_settings(settings) {}

    // MSG_GET, MSG_GETCURRENT and MSG_GETDEFAULT fill `layout`; MSG_SET takes its
    // frame; MSG_RESET goes back to the whole bed and fills `layout` with it.
    // setAllowed is false once the source is enabled: MSG_SET and MSG_RESET then fail
    // with TWCC_SEQERROR.
    TW_UINT16 Handle(TW_UINT16 msg, TW_IMAGELAYOUT* layout, bool setAllowed, TW_UINT16* condition);

    // The frame of the whole bed.
    static ChartFrame WholeBed(const TestChartSettings& settings);
    // Cuts `frame` to the bed: Inside when it lay within it, Cut when it reached
    // past it, Refused (frame untouched) when it is empty, inverted or off the bed.
    enum class Fit { Inside, Cut, Refused };
    static Fit FitToBed(const TestChartSettings& settings, ChartFrame* frame);

private:
    TW_UINT16 Set(const TW_IMAGELAYOUT& layout, TW_UINT16* condition);
    static void Fill(const ChartFrame& frame, TW_IMAGELAYOUT* layout);

    TestChartSettings& m_settings;
};
