// Tickets: their text, their negotiation with a scripted source before it is
// enabled, and the containers a source answers with.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/twain/TwainTestSupport.h"
#include "twain/CapabilityValues.h"
#include "twain/ScanTicket.h"

namespace {

ScanTicket Ticket(const std::string& text) {
    ScanTicket ticket;
    std::string error;
    EXPECT_TRUE(ScanTicket::Parse(text, &ticket, &error)) << error;
    return ticket;
}

TEST(ScanTicketTest, TextRoundTripsAndEveryMistakeIsRefusedWithASentence) {
    const ScanTicket ticket = Ticket(
        "device=Velomark Test Chart\ninput=duplex\ncolor=gray\nresolution=150x300\r\n"
        "area=0,1200,2400,600\npages=3\nui=1\n\n");
    EXPECT_EQ(ticket.device, "Velomark Test Chart");
    EXPECT_EQ(ticket.input, ScanTicket::Input::Duplex);
    EXPECT_EQ(ticket.color, ScanTicket::Color::Gray);
    EXPECT_EQ(ticket.xResolution, 150);
    EXPECT_EQ(ticket.yResolution, 300);
    EXPECT_TRUE(ticket.hasArea);
    EXPECT_EQ(ticket.areaTop, 1200);
    EXPECT_EQ(ticket.areaHeight, 600);
    EXPECT_EQ(ticket.pages, 3);
    EXPECT_TRUE(ticket.showUi);
    EXPECT_EQ(Ticket(ticket.Text()), ticket);
    EXPECT_EQ(Ticket(""), ScanTicket{});

    const std::vector<std::string> refused = {
        "dpi=300",           "color=grey",     "resolution=0",   "resolution=300x",
        "area=1,2,3",        "area=0,0,0,5",   "area=0,0,5,5,5", "pages=-1",
        "ui=2",              "input=feeder\ninput=flatbed",       "color",
        " color=gray",       "resolution=+5",  std::string(4097, '\n'),
        "device=" + std::string(33, 'x'),      std::string("color=gray\0", 11)};
    for (const std::string& text : refused) {
        ScanTicket kept = ticket;
        std::string error;
        EXPECT_FALSE(ScanTicket::Parse(text, &kept, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(kept, ticket) << text;
    }
}

TEST(CapabilityValuesTest, ListsAndRangesAreReadWithinTheirBlock) {
    std::vector<unsigned char> block(14 + 3 * 4);
    const TW_ENUMERATION head{TWTY_FIX32, 3, 1, 0, {}};
    std::memcpy(block.data(), &head, 14);
    for (int i = 0; i < 3; ++i) {
        const TW_UINT32 item = Fix32ToItem(DoubleToFix32(75.0 * (i + 1)));
        std::memcpy(block.data() + 14 + 4 * i, &item, 4);
    }
    CapabilityValues values;
    ASSERT_TRUE(CapabilityValues::Read(TWON_ENUMERATION, block.data(), block.size(), &values));
    ASSERT_EQ(values.items.size(), 3u);
    EXPECT_EQ(values.Number(values.items[2]), 225.0);
    EXPECT_EQ(values.Number(values.current), 150.0);
    EXPECT_EQ(CapabilityValues::DescribedSize(TWON_ENUMERATION, block.data()), block.size());
    // A list that claims more items than its block holds is not read.
    EXPECT_FALSE(CapabilityValues::Read(TWON_ENUMERATION, block.data(), block.size() - 1, &values));

    const TW_RANGE range{TWTY_FIX32, Fix32ToItem(DoubleToFix32(25)), Fix32ToItem(DoubleToFix32(1200)),
                         Fix32ToItem(DoubleToFix32(1)), 0, Fix32ToItem(DoubleToFix32(100))};
    ASSERT_TRUE(CapabilityValues::Read(TWON_RANGE, &range, sizeof range, &values));
    EXPECT_TRUE(values.isRange);
    EXPECT_EQ(values.Number(values.max), 1200.0);
    EXPECT_FALSE(CapabilityValues::Read(TWON_RANGE, &range, sizeof range - 1, &values));
}

// "CAPABILITY/SET 4098=1", "IMAGELAYOUT/SET", "USERINTERFACE/ENABLEDS": what the
// source was asked, in order, with each one-value container's item.
std::vector<std::string> Negotiation(const ScriptedDsm& dsm) {
    std::vector<std::string> asked;
    for (const DsmCall& call : dsm.calls) {
        if (!call.toSource || call.dat == DAT_STATUS) continue;
        if (call.dat == DAT_CAPABILITY && call.msg == MSG_SET && call.container.size() >= 6) {
            TW_CAPABILITY cap;
            TW_ONEVALUE one;
            std::memcpy(&cap, call.data.data(), sizeof cap);
            std::memcpy(&one, call.container.data(), sizeof one);
            asked.push_back("SET " + std::to_string(cap.Cap) + "=" + std::to_string(one.Item));
        } else if (call.dat == DAT_IMAGELAYOUT && call.msg == MSG_SET) {
            TW_IMAGELAYOUT layout;
            std::memcpy(&layout, call.data.data(), sizeof layout);
            asked.push_back("LAYOUT " + std::to_string(Fix32ToDouble(layout.Frame.Left)) + " " +
                            std::to_string(Fix32ToDouble(layout.Frame.Bottom)));
        } else if (call.dat == DAT_USERINTERFACE) {
            TW_USERINTERFACE ui;
            std::memcpy(&ui, call.data.data(), sizeof ui);
            asked.push_back("ENABLE ui=" + std::to_string(ui.ShowUI));
        }
    }
    return asked;
}

TEST_F(FakeDsmTest, ATicketIsNegotiatedInOrderBeforeTheSourceIsEnabled) {
    OpenDsm();
    std::string sentence;
    ASSERT_TRUE(twain.AcquireTicket(
        Ticket("input=feeder\ncolor=gray\nresolution=100\narea=1200,0,2400,1800\npages=2\n"),
        &sentence))
        << sentence;
    const auto set = [](TW_UINT16 cap, TW_UINT32 item) {
        return "SET " + std::to_string(cap) + "=" + std::to_string(item);
    };
    const TW_UINT32 dpi100 = Fix32ToItem(DoubleToFix32(100));
    EXPECT_EQ(Negotiation(dsm),
              (std::vector<std::string>{
                  set(CAP_FEEDERENABLED, 1), set(ICAP_PIXELTYPE, TWPT_GRAY), set(ICAP_BITDEPTH, 8),
                  set(ICAP_XRESOLUTION, dpi100), set(ICAP_YRESOLUTION, dpi100),
                  set(ICAP_UNITS, TWUN_INCHES), "LAYOUT 1.000000 1.500000", set(CAP_XFERCOUNT, 2),
                  "ENABLE ui=0"}));
    EXPECT_TRUE(twain.IsSourceEnabled());
}

TEST_F(FakeDsmTest, WhatTheSourceCannotDoFailsTheTicketWithASentenceAndClosesIt) {
    OpenDsm();
    dsm.On(DAT_CAPABILITY, MSG_SET, [&](const DsmCall& call, TW_MEMREF) -> TW_UINT16 {
        TW_CAPABILITY cap;
        std::memcpy(&cap, call.data.data(), sizeof cap);
        if (cap.Cap == CAP_FEEDERENABLED) {
            dsm.SetCondition(TWCC_CAPUNSUPPORTED);
            return TWRC_FAILURE;
        }
        // The nearest resolution the source has will do.
        return cap.Cap == ICAP_XRESOLUTION ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
    });
    std::string sentence;
    EXPECT_FALSE(twain.AcquireTicket(Ticket("input=feeder\n"), &sentence));
    EXPECT_EQ(sentence, "the source has no document feeder");
    EXPECT_FALSE(twain.IsSourceOpen());
    // A source without a feeder scans from its bed; the nearest resolution stands.
    EXPECT_TRUE(twain.AcquireTicket(Ticket("input=flatbed\nresolution=7\n"), &sentence))
        << sentence;
    twain.CloseSource();
    EXPECT_FALSE(twain.AcquireTicket(Ticket("device=No Such Scanner\n"), &sentence));
    EXPECT_EQ(sentence, "there is no source named 'No Such Scanner'");
}

}  // namespace
