// The eSCL documents at the cheapest level: a client's ScanSettings read into a
// ticket, and the capabilities written from a source's abilities.
#include <gtest/gtest.h>

#include <string>

#include "engine/EsclDocuments.h"
#include "engine/EsclSettings.h"
#include "twain/SourceAbilities.h"

namespace velomark {
namespace {

// The two namespaces under prefixes no client uses, one of them the default.
constexpr char kOpen[] =
    "<?xml version=\"1.0\"?><ScanSettings xmlns=\"http://schemas.hp.com/imaging/escl/2011/05/03\" "
    "xmlns:p=\"http://www.pwg.org/schemas/2010/12/sm\">";

EsclSettings Parsed(const std::string& body) {
    EsclSettings settings;
    std::string error;
    EXPECT_TRUE(EsclSettings::Parse(kOpen + body + "</ScanSettings>", &settings, &error)) << error;
    return settings;
}

std::string Refusal(const std::string& xml) {
    EsclSettings settings;
    std::string error;
    EXPECT_FALSE(EsclSettings::Parse(xml, &settings, &error)) << xml;
    return error;
}

TEST(EsclSettingsTest, ElementsAreReadByNamespaceNotPrefix) {
    const EsclSettings settings = Parsed(
        "<p:ScanRegions><p:ScanRegion><p:ContentRegionUnits>escl:ThreeHundredthsOfInches"
        "</p:ContentRegionUnits><p:XOffset>30</p:XOffset><p:YOffset>60</p:YOffset>"
        "<p:Width>1500</p:Width><p:Height>900</p:Height></p:ScanRegion></p:ScanRegions>"
        "<p:InputSource>Feeder</p:InputSource><Duplex>true</Duplex><ColorMode>Grayscale8</ColorMode>"
        "<p:DocumentFormat>image/jpeg</p:DocumentFormat><DocumentFormatExt>image/png</DocumentFormatExt>"
        "<XResolution>150</XResolution>");
    const ScanTicket& ticket = settings.ticket;
    EXPECT_EQ(ticket.input, ScanTicket::Input::Duplex);
    EXPECT_EQ(ticket.color, ScanTicket::Color::Gray);
    EXPECT_EQ(ticket.xResolution, 150);
    EXPECT_EQ(ticket.yResolution, 150);
    ASSERT_TRUE(ticket.hasArea);
    // 1/300 inch in, 1/1200 inch in the ticket.
    EXPECT_EQ(ticket.areaLeft, 120);
    EXPECT_EQ(ticket.areaTop, 240);
    EXPECT_EQ(ticket.areaWidth, 6000);
    EXPECT_EQ(ticket.areaHeight, 3600);
    EXPECT_EQ(settings.format, PageFormat::Png);  // the newer element wins
}

TEST(EsclSettingsTest, WhatAClientLeavesOutTakesTheDefaults) {
    const EsclSettings settings = Parsed("<Intent>Document</Intent>");
    EXPECT_EQ(settings.ticket, ScanTicket{});
    EXPECT_EQ(settings.format, PageFormat::Jpeg);
    EXPECT_EQ(Parsed("<p:InputSource>Adf</p:InputSource>").ticket.input, ScanTicket::Input::Feeder);
}

TEST(EsclSettingsTest, ARightPrefixOnAnotherNamespaceIsNotScanSettings) {
    EXPECT_NE(Refusal("<scan:ScanSettings xmlns:scan=\"urn:other\"/>"), "");
    // A known element in a foreign namespace is not read.
    EXPECT_EQ(Parsed("<ColorMode xmlns=\"urn:other\">RGB24</ColorMode>").ticket.color,
              ScanTicket::Color::Auto);
}

TEST(EsclSettingsTest, DocumentTypesEntitiesAndMalformedXmlAreRefused) {
    EXPECT_NE(Refusal("<!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>"), "");
    EXPECT_NE(Refusal(std::string(kOpen) + "<ColorMode>&unknown;</ColorMode></ScanSettings>"), "");
    EXPECT_NE(Refusal(std::string(kOpen) + "<ColorMode>RGB24</ColorMode>"), "");
}

TEST(EsclSettingsTest, ValuesOutsideTheirRangeRefuseTheDocument) {
    for (const char* body : {"<XResolution>0</XResolution>", "<XResolution>99999</XResolution>",
                             "<XResolution>12x</XResolution>", "<ColorMode>CMYK</ColorMode>",
                             "<p:InputSource>Camera</p:InputSource>",
                             "<p:DocumentFormat>image/tiff</p:DocumentFormat>",
                             "<p:ScanRegions><p:ScanRegion><p:Width>-3</p:Width></p:ScanRegion>"
                             "</p:ScanRegions>"})
        EXPECT_NE(Refusal(kOpen + std::string(body) + "</ScanSettings>"), "") << body;
}

SourceAbilities ChartLike() {
    SourceAbilities source;
    source.name = "Chart & <Co>";
    source.flatbed = source.feeder = source.duplex = true;
    source.gray = source.rgb = true;
    source.resolutionRange = true;
    source.minResolution = 25;
    source.maxResolution = 600;
    source.resolutionStep = 1;
    source.hasBed = true;
    source.bedWidth = 10200;  // 8.5 x 11 inches in 1/1200
    source.bedHeight = 13200;
    return source;
}

TEST(EsclCapabilitiesTest, ARangeIsOfferedAsDiscreteResolutionsOnly) {
    const std::string xml = CapabilitiesXml(ChartLike(), "u");
    EXPECT_EQ(xml.find("ResolutionRange"), std::string::npos);
    EXPECT_EQ(OfferedResolutions(ChartLike()), (std::vector<int>{75, 100, 150, 200, 300, 600}));
    SourceAbilities listed = ChartLike();
    listed.resolutionRange = false;
    listed.resolutions = {300, 150, 300};
    EXPECT_EQ(OfferedResolutions(listed), (std::vector<int>{150, 300}));
}

TEST(EsclCapabilitiesTest, InputsAndSizesFollowTheSource) {
    std::string xml = CapabilitiesXml(ChartLike(), "u");
    EXPECT_NE(xml.find("<scan:MaxWidth>2550</scan:MaxWidth><scan:MinHeight>1</scan:MinHeight>"
                       "<scan:MaxHeight>3300</scan:MaxHeight>"),
              std::string::npos);
    EXPECT_NE(xml.find("<scan:PlatenInputCaps>"), std::string::npos);
    EXPECT_NE(xml.find("<scan:AdfDuplexInputCaps>"), std::string::npos);
    EXPECT_NE(xml.find("<pwg:MakeAndModel>Chart &amp; &lt;Co&gt;</pwg:MakeAndModel>"), std::string::npos);
    EXPECT_EQ(xml.find("BlackAndWhite1"), std::string::npos);
    SourceAbilities flatbed = ChartLike();
    flatbed.feeder = flatbed.duplex = false;
    xml = CapabilitiesXml(flatbed, "u");
    EXPECT_EQ(xml.find("<scan:Adf>"), std::string::npos);
}

}  // namespace
}  // namespace velomark
