// The product names of SANE devices: within 33 characters, twins told apart, the same
// names for the same device list.
#include <gtest/gtest.h>

#include "sources/sane/SaneSourceNames.h"

namespace {

SaneDeviceInfo Device(const std::string& name, const std::string& model,
                      const std::string& vendor = "Vendor") {
    return SaneDeviceInfo{name, vendor, model, "flatbed scanner"};
}

TEST(SaneSourceNames, ShortNamesNameModelAndDevice) {
    EXPECT_EQ(SaneSourceNames::BaseName(Device("test:0", "frontend-tester")),
              "frontend-tester (test:0)");
    EXPECT_EQ(SaneSourceNames::BaseName(Device("x:1", "", "")), "Scanner (x:1)");
    EXPECT_EQ(SaneSourceNames::BaseName(Device("x:1", "", "Canon")), "Canon (x:1)");
}

TEST(SaneSourceNames, LongNamesKeepTheDeviceNamesTailWithin33Characters) {
    const std::string net = "net:192.168.100.200:genesys:libusb:001:004";
    const std::string name = SaneSourceNames::BaseName(Device(net, "CanoScan LiDE 220"));
    EXPECT_LE(name.size(), SaneSourceNames::kMaxLength);
    EXPECT_EQ(name, "CanoScan LiDE 220 (...sb:001:004)");
    const std::string longModel =
        SaneSourceNames::BaseName(Device(net, "A Very Long Model Name Of A Scanner"));
    EXPECT_EQ(longModel.size(), SaneSourceNames::kMaxLength);
    EXPECT_EQ(longModel.substr(longModel.size() - 14), "...sb:001:004)") << longModel;
    EXPECT_EQ(longModel.substr(0, 10), "A Very Lon");
}

TEST(SaneSourceNames, TwinsGetNumbersAndTheSameListTheSameNames) {
    const std::string tail = "genesys:libusb:001:004";
    const std::vector<SaneDeviceInfo> devices = {
        Device("net:hostA:" + tail, "CanoScan LiDE 220"),
        Device("net:hostB:" + tail, "CanoScan LiDE 220"),
        Device("net:hostC:" + tail, "CanoScan LiDE 220"),
        Device("test:0", "frontend-tester"),
    };
    const std::vector<std::string> names = SaneSourceNames::ProductNames(devices);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[1], names[0].substr(0, 30) + " #2");
    EXPECT_EQ(names[2], names[0].substr(0, 30) + " #3");
    EXPECT_EQ(names[3], "frontend-tester (test:0)");
    for (const std::string& name : names) EXPECT_LE(name.size(), SaneSourceNames::kMaxLength);
    EXPECT_EQ(SaneSourceNames::ProductNames(devices), names);
}

TEST(SaneSourceNames, ControlCharactersBecomeSpaces) {
    EXPECT_EQ(SaneSourceNames::BaseName(Device("a\nb", "m\tx")), "m x (a b)");
}

}  // namespace
