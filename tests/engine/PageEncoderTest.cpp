// A page's encodings as a network client gets them, and the addresses sharing takes.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/PageEncoder.h"
#include "engine/ShareAddress.h"

namespace velomark {
namespace {

// A packed 24-bit DIB of width x height, bottom-up, every pixel mid grey.
std::vector<unsigned char> GreyPage(int width, int height) {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<unsigned char> dib(40 + stride * size_t(height), 128);
    const int32_t values[] = {40, width, height};
    std::memcpy(dib.data(), values, sizeof values);
    const uint16_t planesAndBits[] = {1, 24};
    std::memcpy(dib.data() + 12, planesAndBits, sizeof planesAndBits);
    std::fill(dib.begin() + 16, dib.begin() + 40, 0);
    return dib;
}

TEST(PageEncoderTest, ABlockShorterThanItsHeaderSaysIsRefused) {
    std::vector<unsigned char> page = GreyPage(5, 3);
    page.pop_back();
    EXPECT_FALSE(PageEncoder(page).Valid());
    page = GreyPage(5, 3);
    page[14] = 8;  // not 24 bits
    EXPECT_FALSE(PageEncoder(page).Valid());
    EXPECT_FALSE(PageEncoder(std::vector<unsigned char>(39, 0)).Valid());
}

TEST(PageEncoderTest, AGreyPngHasOneChannelOfTheSameGrey) {
    const std::vector<unsigned char> page = GreyPage(5, 3);
    std::string png;
    ASSERT_TRUE(PageEncoder(page).Encode(PageFormat::Png, true, 100, &png));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    EXPECT_EQ(image.format, unsigned(PNG_FORMAT_GRAY));
    EXPECT_EQ(image.width, 5u);
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(pixels, std::vector<unsigned char>(15, 128));
}

TEST(PageEncoderTest, APdfPageHasThePhysicalSizeOfTheScan) {
    // 850 x 1100 pixels at 100 dpi: US Letter, 612 x 792 points.
    std::string pdf;
    ASSERT_TRUE(PageEncoder(GreyPage(850, 1100)).Encode(PageFormat::Pdf, false, 100, &pdf));
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    EXPECT_NE(pdf.find("/MediaBox [ 0 0 612 792 ]"), std::string::npos);
}

TEST(PageEncoderTest, AJpegIsAJpegOfThePagesSize) {
    std::string jpeg;
    ASSERT_TRUE(PageEncoder(GreyPage(300, 7)).Encode(PageFormat::Jpeg, false, 100, &jpeg));
    ASSERT_GT(jpeg.size(), 200u);
    EXPECT_EQ(jpeg.substr(0, 2), "\xff\xd8");
    // The baseline frame header: height, then width, big-endian.
    const size_t frame = jpeg.find("\xff\xc0");
    ASSERT_NE(frame, std::string::npos);
    EXPECT_EQ(jpeg.substr(frame + 5, 4), std::string("\x00\x07\x01\x2c", 4));
}

TEST(ShareAddressTest, AddressesAreNumericWithAPort) {
    ShareAddress address;
    std::string error;
    ASSERT_TRUE(ShareAddress::Parse("[::1]:0", &address, &error)) << error;
    EXPECT_EQ(address.hosts, std::vector<std::string>{"::1"});
    EXPECT_EQ(address.port, 0);
    EXPECT_TRUE(address.IsLoopback());
    ASSERT_TRUE(ShareAddress::Parse("192.168.1.5:8090", &address, &error)) << error;
    EXPECT_FALSE(address.IsLoopback());
    ASSERT_TRUE(ShareAddress::Parse("0.0.0.0:8090", &address, &error)) << error;
    EXPECT_EQ(address.hosts, (std::vector<std::string>{"0.0.0.0", "::"}));
    EXPECT_TRUE(ShareAddress::Loopback().IsLoopback());
    for (const char* text : {"scanner.local:8090", "127.0.0.1", "127.0.0.1:65536", "::1:80",
                             "127.0.0.1:-1", "[127.0.0.1]:80"})
        EXPECT_FALSE(ShareAddress::Parse(text, &address, &error)) << text;
}

}  // namespace
}  // namespace velomark
