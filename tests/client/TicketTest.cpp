// A ticket's text from the C writer, and the command line's settings read into a
// ticket: every value written as Velomark reads it, every value that cannot be
// written refused with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/cli/ClientCommandLine.h"
#include "client/cli/TicketOptions.h"
#include "client/velomark_client.h"

namespace velomark::testing {
namespace {

std::string TextOf(const velomark_ticket& ticket) {
    char buffer[VELOMARK_TICKET_MAX + 1];
    const long length = velomark_ticket_text(&ticket, buffer, sizeof(buffer));
    EXPECT_GE(length, 0) << velomark_last_error(nullptr);
    return length < 0 ? "" : std::string(buffer, static_cast<size_t>(length));
}

velomark_ticket Defaults() {
    velomark_ticket ticket;
    velomark_ticket_init(&ticket);
    return ticket;
}

TEST(TicketText, WritesEachSettingAsAKeyLine) {
    EXPECT_EQ(TextOf(Defaults()), "input=auto\ncolor=auto\nui=0\n");

    velomark_ticket ticket = Defaults();
    ticket.device = "Velomark Test Chart";
    ticket.input = VELOMARK_INPUT_DUPLEX;
    ticket.color = VELOMARK_COLOR_GRAY;
    ticket.x_resolution = 300;
    ticket.y_resolution = 600;
    ticket.has_area = 1;
    ticket.area_left = 0;
    ticket.area_top = 1200;
    ticket.area_width = 1;
    ticket.area_height = 13200;
    ticket.pages = 4;
    ticket.ui = 1;
    EXPECT_EQ(TextOf(ticket),
              "device=Velomark Test Chart\ninput=duplex\ncolor=gray\nresolution=300x600\n"
              "area=0,1200,1,13200\npages=4\nui=1\n");

    // One resolution for both axes is written once; an empty device is the default.
    ticket = Defaults();
    ticket.device = "";
    ticket.input = VELOMARK_INPUT_FEEDER;
    ticket.color = VELOMARK_COLOR_BW;
    ticket.x_resolution = 150;
    ticket.y_resolution = 150;
    EXPECT_EQ(TextOf(ticket), "input=feeder\ncolor=bw\nresolution=150\nui=0\n");
    ticket.device = "Caf\xC3\xA9 \xF0\x9F\x93\xA0 scanner";  // UTF-8 beyond ASCII is a name
    EXPECT_EQ(TextOf(ticket).substr(0, 26), "device=Caf\xC3\xA9 \xF0\x9F\x93\xA0 scanner\n");
}

TEST(TicketText, RefusesEveryValueThatCannotBeWritten) {
    const std::string longName(VELOMARK_TICKET_MAX, 'n');
    struct Case {
        const char* name;
        void (*spoil)(velomark_ticket&, const std::string&);
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"input past duplex", [](velomark_ticket& t, const std::string&) { t.input = 4; },
         "input 4"},
        {"negative input", [](velomark_ticket& t, const std::string&) { t.input = -1; },
         "input -1"},
        {"color past rgb", [](velomark_ticket& t, const std::string&) { t.color = 4; }, "color 4"},
        {"y resolution alone", [](velomark_ticket& t, const std::string&) { t.y_resolution = 300; },
         "y resolution"},
        {"area without width",
         [](velomark_ticket& t, const std::string&) {
             t.has_area = 1;
             t.area_height = 10;
         },
         "width and height"},
        {"area without height",
         [](velomark_ticket& t, const std::string&) {
             t.has_area = 1;
             t.area_width = 10;
         },
         "width and height"},
        {"ui 2", [](velomark_ticket& t, const std::string&) { t.ui = 2; }, "ui 2"},
        {"line break in the device",
         [](velomark_ticket& t, const std::string&) { t.device = "A\nui=1"; }, "line break"},
        {"tab in the device", [](velomark_ticket& t, const std::string&) { t.device = "A\tB"; },
         "control character"},
        {"leading space", [](velomark_ticket& t, const std::string&) { t.device = " A"; }, "space"},
        {"not UTF-8", [](velomark_ticket& t, const std::string&) { t.device = "A\xC3("; }, "UTF-8"},
        {"overlong UTF-8", [](velomark_ticket& t, const std::string&) { t.device = "\xC0\xAF"; },
         "UTF-8"},
        {"UTF-16 surrogate",
         [](velomark_ticket& t, const std::string&) { t.device = "\xED\xA0\x80"; }, "UTF-8"},
        {"beyond 4096 bytes",
         [](velomark_ticket& t, const std::string& name) { t.device = name.c_str(); },
         "at most 4096"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        velomark_ticket ticket = Defaults();
        c.spoil(ticket, longName);
        char buffer[VELOMARK_TICKET_MAX + 1] = "untouched";
        EXPECT_EQ(velomark_ticket_text(&ticket, buffer, sizeof(buffer)), -VELOMARK_E_ARGUMENT);
        EXPECT_NE(std::string(velomark_last_error(nullptr)).find(c.reason), std::string::npos)
            << velomark_last_error(nullptr);
    }
    // The longest name that fits, and a buffer one byte short of the text.
    velomark_ticket ticket = Defaults();
    const std::string fits(
        VELOMARK_TICKET_MAX - std::string("device=\ninput=auto\ncolor=auto\nui=0\n").size(), 'n');
    ticket.device = fits.c_str();
    EXPECT_EQ(TextOf(ticket).size(), size_t{VELOMARK_TICKET_MAX});
    ticket = Defaults();
    char small[27];
    EXPECT_EQ(velomark_ticket_text(&ticket, small, sizeof(small)), -VELOMARK_E_BUFFER);
    char exact[28];
    EXPECT_EQ(velomark_ticket_text(&ticket, exact, sizeof(exact)), 27);
    EXPECT_EQ(velomark_ticket_text(nullptr, exact, sizeof(exact)), -VELOMARK_E_ARGUMENT);
}

TEST(TicketOptions, MillimetresBecomeTwelveHundredthsOfAnInchRoundedToNearest) {
    uint32_t units = 0;
    for (const auto& [millimetres, expected] :
         std::vector<std::pair<const char*, uint32_t>>{{"0", 0},
                                                       {"25.4", 1200},
                                                       {"215.9", 10200},
                                                       {"10", 472},
                                                       {"20.5", 969},
                                                       {"0.01", 0},
                                                       {".5", 24}}) {
        ASSERT_TRUE(TicketOptions::MillimetresToUnits(millimetres, units)) << millimetres;
        EXPECT_EQ(units, expected) << millimetres;
    }
    for (const char* refused : {"", ".", "-1", "1e3", "0x10", "1.2.3", "nan", "inf", "3 "})
        EXPECT_FALSE(TicketOptions::MillimetresToUnits(refused, units)) << refused;
}

ClientCommandLine Parsed(std::vector<const char*> args, bool& ok, std::string& error) {
    args.insert(args.begin(), "velomark-client");
    ClientCommandLine commandLine;
    ok = commandLine.Parse(static_cast<int>(args.size()), args.data(), error);
    return commandLine;
}

TEST(TicketOptions, TheCommandLineMakesTheTicketAndRefusesWhatCannotBeOne) {
    bool ok = false;
    std::string error;
    ClientCommandLine line =
        Parsed({"acquire", "--stream", "--device", "Flatbed One", "--source", "feeder", "--mode",
                "color", "--resolution", "300x600", "--area", "0,25.4,215.9,0.5", "-n", "3"},
               ok, error);
    ASSERT_TRUE(ok) << error;
    ASSERT_TRUE(line.ticket.Given());
    const velomark_ticket ticket = line.ticket.Ticket(3);
    EXPECT_EQ(TextOf(ticket),
              "device=Flatbed One\ninput=feeder\ncolor=rgb\nresolution=300x600\n"
              "area=0,1200,10200,24\npages=3\nui=0\n");

    // Modes as scanimage names them, and -n alone keeps the plain stream.
    line = Parsed({"acquire", "--stream", "--mode", "bw", "--resolution", "75"}, ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(TextOf(line.ticket.Ticket(0)), "input=auto\ncolor=bw\nresolution=75\nui=0\n");
    line = Parsed({"acquire", "--stream", "-n", "2"}, ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_FALSE(line.ticket.Given());

    for (const std::vector<const char*>& refused : std::vector<std::vector<const char*>>{
             {"acquire", "--stream", "--source", "adf"},
             {"acquire", "--stream", "--mode", "rgb"},
             {"acquire", "--stream", "--resolution", "0"},
             {"acquire", "--stream", "--resolution", "300x"},
             {"acquire", "--stream", "--resolution", "4294967296"},
             {"acquire", "--stream", "--area", "1,2,3"},
             {"acquire", "--stream", "--area", "1,2,0.01,4"},
             {"acquire", "--stream", "--device", "two\nlines"},
             {"acquire", "--mode", "gray"},
             {"devices", "--mode", "gray"},
         }) {
        Parsed(refused, ok, error);
        EXPECT_FALSE(ok) << refused.back();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace velomark::testing
