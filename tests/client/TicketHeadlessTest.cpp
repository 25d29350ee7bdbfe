// velomark-client's sources and ticketed acquire through `velomark --headless` and
// the test chart: the list names the chart, and a grey 100 dpi ticket gives a page
// the chart scanned in 8-bit grey at 100 dpi.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/ProgramRun.h"
#include "tests/client/HeadlessFixture.h"

namespace velomark::testing {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(HeadlessTest, TheClientListsTheChartAndScansItGreyAtTheTicketsResolution) {
    StartVelomark();
    ProgramOutput devices = RunProgram({VELOMARK_CLIENT_PATH, "devices", "--json"}, 30000);
    ASSERT_EQ(devices.exitCode, 0) << devices.err;
    EXPECT_NE(devices.out.find("\"name\":\"Velomark Test Chart\""), std::string::npos)
        << devices.out;

    const std::string folder = Folder() + "/pages";
    ProgramOutput run = RunProgram({VELOMARK_CLIENT_PATH, "acquire", "--stream", "--json", "--mode",
                                    "gray", "--resolution", "100", "-n", "1", "-o", folder},
                                   30000);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string page = folder + "/page-001.bmp";
    EXPECT_EQ(run.out.rfind("{\"path\":\"" + page + "\"", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\"bits\":8,\"xres\":100,\"yres\":100,"), std::string::npos) << run.out;

    // 24 bits in the file, every pixel grey: blue, green and red alike.
    const std::string file = ReadFile(page);
    ASSERT_GT(file.size(), 54u);
    const auto at = [&](size_t offset) {
        return static_cast<uint32_t>(static_cast<unsigned char>(file[offset])) |
               static_cast<uint32_t>(static_cast<unsigned char>(file[offset + 1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(file[offset + 2])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(file[offset + 3])) << 24;
    };
    const uint32_t width = at(18);
    const uint32_t height = at(22);
    const size_t stride = (3 * size_t{width} + 3) & ~size_t{3};
    ASSERT_EQ(file.size(), 54 + stride * height);
    int coloured = 0;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const char* pixel = &file[54 + y * stride + 3 * x];
            coloured += pixel[0] != pixel[1] || pixel[1] != pixel[2];
        }
    }
    EXPECT_EQ(coloured, 0);
}

}  // namespace
}  // namespace velomark::testing
