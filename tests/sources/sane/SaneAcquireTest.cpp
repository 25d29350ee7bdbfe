// Acquisitions from SANE's test backend through CTwain and the real DSM: the pixels of
// every delivered page equal what scanimage writes for the same device and options,
// and the description matches the DIB.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "tests/sources/sane/SaneScanimage.h"
#include "tests/sources/sane/SaneTwainFixture.h"

namespace {

struct PixelCase {
    const char* name;
    const char* options;  // as VELOMARK_SANE_OPTIONS
    TW_INT16 pixelType;
    int bitsPerPixel;
    // scanimage writes a line's padding as pixels, so a padded case is compared with
    // the same scan unpadded, less the columns the padding replaces.
    const char* peerOptions = nullptr;
    int lostColumns = 0;
};

void PrintTo(const PixelCase& test, std::ostream* out) { *out << test.name; }

// Small areas at low resolutions keep each scan a few milliseconds.
constexpr const char* kArea = "tl-x=0,tl-y=0,br-x=30,br-y=20,resolution=75";

const PixelCase kPixelCases[] = {
    {"Grey1", "mode=Gray,depth=1,test-picture=Grid", TWPT_BW, 1},
    {"Grey8", "mode=Gray,depth=8,test-picture=Color pattern", TWPT_GRAY, 8},
    {"Grey16", "mode=Gray,depth=16,test-picture=Color pattern", TWPT_GRAY, 8},
    {"Colour8", "mode=Color,depth=8,test-picture=Color pattern", TWPT_RGB, 24},
    {"Colour16", "mode=Color,depth=16,test-picture=Color pattern", TWPT_RGB, 24},
    {"ThreePass", "mode=Color,three-pass=yes,three-pass-order=GBR,test-picture=Color pattern",
     TWPT_RGB, 24},
    {"HandScanner", "mode=Gray,hand-scanner=yes,test-picture=Color pattern", TWPT_GRAY, 8},
    {"HandScannerColour", "mode=Color,hand-scanner=yes,test-picture=Grid", TWPT_RGB, 24},
    {"PixelsLostPerLine", "mode=Color,ppl-loss=7,test-picture=Color pattern", TWPT_RGB, 24,
     "mode=Color,test-picture=Color pattern", 7},
    {"PixelsLostPerGreyLine", "mode=Gray,depth=16,ppl-loss=5,test-picture=Color pattern", TWPT_GRAY,
     8, "mode=Gray,depth=16,test-picture=Color pattern", 5},
    {"FuzzyParameters", "mode=Gray,fuzzy-parameters=yes,test-picture=Color pattern", TWPT_GRAY, 8},
    {"SmallReads", "mode=Color,read-limit=yes,read-limit-size=37,test-picture=Grid", TWPT_RGB, 24},
};

SaneSettings Options(const char* text) {
    SaneSettings settings;
    std::string error;
    EXPECT_TRUE(SaneSettings::Parse(std::string(kArea) + "," + text, &settings, &error)) << error;
    return settings;
}

DecodedImage Cropped(const DecodedImage& image, int width) {
    DecodedImage cropped;
    cropped.width = width;
    cropped.height = image.height;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < width; ++x) cropped.pixels.push_back(image.At(x, y));
    return cropped;
}

class SanePixelTest : public SaneTwainTest, public ::testing::WithParamInterface<PixelCase> {};

TEST_P(SanePixelTest, PixelsEqualScanimagesAndTheDescriptionFits) {
    if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    const PixelCase& test = GetParam();
    const SaneSettings options = Options(test.options);
    DecodedImage expected;
    std::string error;
    ASSERT_TRUE(SaneScanimage::Scan(
        m_device, Options(test.peerOptions ? test.peerOptions : test.options), &expected, &error))
        << error;
    if (test.lostColumns) expected = Cropped(expected, expected.width - test.lostColumns);

    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, options)) << "the source did not ask to be closed";
    EXPECT_EQ(twain.SourceName(), m_productName);
    ASSERT_EQ(twain.images.size(), 1u);
    const ReceivedImage& image = twain.images[0];
    const DecodedImage actual = Decoded(image);
    EXPECT_EQ(FirstDifference(expected, actual), "");

    const TW_IMAGEINFO& info = image.info;
    EXPECT_EQ(info.ImageWidth, expected.width);
    EXPECT_EQ(info.ImageLength, expected.height);
    EXPECT_EQ(info.PixelType, test.pixelType);
    EXPECT_EQ(info.BitsPerPixel, test.bitsPerPixel);
    EXPECT_EQ(info.SamplesPerPixel, test.bitsPerPixel == 24 ? 3 : 1);
    EXPECT_EQ(info.BitsPerSample[0], test.bitsPerPixel == 1 ? 1 : 8);
    EXPECT_EQ(info.XResolution.Whole, 75);
    EXPECT_EQ(info.YResolution.Whole, 75);
    EXPECT_EQ(info.Planar, FALSE);
    EXPECT_EQ(info.Compression, TWCP_NONE);
}

INSTANTIATE_TEST_SUITE_P(TestBackend, SanePixelTest, ::testing::ValuesIn(kPixelCases),
                         [](const auto& info) { return std::string(info.param.name); });

using SaneBatchTest = SaneTwainTest;

constexpr const char* kFeeder =
    "mode=Gray,test-picture=Color pattern,source=Automatic Document Feeder";

TEST_F(SaneBatchTest, TheFeederGivesItsTenPagesThenTheSourceAsksToClose) {
    if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    const SaneSettings options = Options(kFeeder);
    DecodedImage expected;
    std::string error;
    ASSERT_TRUE(SaneScanimage::Scan(m_device, options, &expected, &error)) << error;
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, options, -1));
    ASSERT_EQ(twain.images.size(), 10u);
    for (const ReceivedImage& image : twain.images)
        EXPECT_EQ(FirstDifference(expected, Decoded(image)), "");
}

TEST_F(SaneBatchTest, APageLargerThanTheWorkersRegionComesWhole) {
    if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    // 8 MB at 16 bits a sample: the worker's slots go round, each reused once
    // sane.ds gives it back.
    const SaneSettings options =
        Options("mode=Color,depth=16,test-picture=Color pattern,resolution=300,br-x=100,br-y=100");
    DecodedImage expected;
    std::string error;
    ASSERT_TRUE(SaneScanimage::Scan(m_device, options, &expected, &error)) << error;
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, options));
    ASSERT_EQ(twain.images.size(), 1u);
    EXPECT_EQ(FirstDifference(expected, Decoded(twain.images[0])), "");
}

TEST_F(SaneBatchTest, ATransferCountLimitsTheFeedersPages) {
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, Options(kFeeder), 3));
    EXPECT_EQ(twain.images.size(), 3u);
}

TEST_F(SaneBatchTest, TheFlatbedGivesOnePageWhateverTheCount) {
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, Options("mode=Gray,source=Flatbed"), -1));
    EXPECT_EQ(twain.images.size(), 1u);
}

TEST_F(SaneBatchTest, AReadErrorEndsTheBatchWithItsReasonAndNothingHangs) {
    for (const char* status : {"SANE_STATUS_IO_ERROR", "SANE_STATUS_JAMMED",
                               "SANE_STATUS_COVER_OPEN", "SANE_STATUS_DEVICE_BUSY"}) {
        SCOPED_TRACE(status);
        SaneTwain twain;
        testing::internal::CaptureStderr();
        const bool closed = Acquire(
            twain, Options((std::string(kFeeder) + ",read-return-value=" + status).c_str()));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(closed);
        EXPECT_TRUE(twain.images.empty());
        EXPECT_NE(log.find(m_device + ": failed: "), std::string::npos) << log;
    }
}

TEST_F(SaneBatchTest, AnEmptyFeederEndsTheBatchWithoutPages) {
    SaneTwain twain;
    testing::internal::CaptureStderr();
    const bool closed = Acquire(
        twain, Options((std::string(kFeeder) + ",read-return-value=SANE_STATUS_NO_DOCS").c_str()));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(twain.images.empty());
    EXPECT_NE(log.find(m_device + ": the document feeder is empty"), std::string::npos) << log;
}

TEST_F(SaneBatchTest, TheDefaultSourceMayBeNamedByItsSaneDeviceName) {
    const std::string other = "test:" + std::to_string(FreshSaneTestDevice());
    setenv("VELOMARK_DEFAULT_SOURCE", other.c_str(), 1);
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, Options("mode=Gray")));
    EXPECT_EQ(twain.SourceName(), "frontend-tester (" + other + ")");
    EXPECT_EQ(twain.images.size(), 1u);
}

TEST_F(SaneBatchTest, RememberedOptionsApplyAndTheEnvironmentOverridesThem) {
    const std::filesystem::path file = m_config / "velomark" / "sane.conf";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "[other]\nmode=Gray\n[" << m_device << "]\nmode=Color\nresolution=50\n";
    SaneTwain twain;
    ASSERT_TRUE(Acquire(twain, Options("test-picture=Grid")));
    ASSERT_EQ(twain.images.size(), 1u);
    EXPECT_EQ(twain.images[0].info.PixelType, TWPT_RGB);
    // kArea's resolution=75 comes from the environment and wins over the file's 50.
    EXPECT_EQ(twain.images[0].info.XResolution.Whole, 75);
}

TEST_F(SaneBatchTest, ATicketScansWhatItNegotiatedAsScanimageDoes) {
    if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    // The environment asks for colour at 300 dpi; the ticket's grey at 100 dpi wins, and
    // its area of 0.5 to 1.5 inches lands on whole millimetres.
    SaneSettings given, peer;
    std::string error;
    ASSERT_TRUE(SaneSettings::Parse("test-picture=Color pattern,mode=Color,resolution=300", &given,
                                    &error));
    SaneTwain twain;
    ASSERT_TRUE(
        AcquireTicket(twain, given, "color=gray\nresolution=100\narea=600,600,1200,1200\n"));
    ASSERT_EQ(twain.images.size(), 1u);
    EXPECT_EQ(twain.images[0].info.PixelType, TWPT_GRAY);
    EXPECT_EQ(twain.images[0].info.XResolution.Whole, 100);
    DecodedImage expected;
    ASSERT_TRUE(SaneSettings::Parse(
        "test-picture=Color pattern,mode=Gray,resolution=100,tl-x=13,tl-y=13,br-x=38,br-y=38",
        &peer, &error));
    ASSERT_TRUE(SaneScanimage::Scan(m_device, peer, &expected, &error)) << error;
    EXPECT_EQ(FirstDifference(expected, Decoded(twain.images[0])), "");
}

}  // namespace
