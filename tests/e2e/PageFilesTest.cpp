// The files a user keeps, through the real dialogs: a page saved as PNG holds the
// pixels the client got; Save All Pages makes one PDF page of the physical size per
// acquired Letter page.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "dib/Dib.h"
#include "tests/e2e/E2eFixture.h"

namespace velomark::e2e {
namespace {

constexpr uint16_t kCommandFileSaveAs = 57604;
constexpr uint16_t kCommandSaveAllPages = 32800;

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool WaitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class PageFilesTest : public E2eFixture {
protected:
    // `pages` unattended test-chart pages that the client takes into out/.
    void AcquirePages(int width, int height, int pages, int dpi) {
        SetProgramVariable("VELOMARK_UNATTENDED", "1");
        UseTestChart("rgb", width, height, pages, dpi);
        ASSERT_NO_FATAL_FAILURE(StartVelomark());
        const testing::ProgramOutput result = RunClient(
            {"acquire", "-n", std::to_string(pages), "-o", Folder() + "/out", "-t", "60"});
        ASSERT_EQ(result.exitCode, 0) << result.err << Velomark().EventText();
        ASSERT_TRUE(Velomark().WaitForEvents("image ", pages, kImageTimeoutMs));
    }
};

TEST_F(PageFilesTest, SaveAsPngHoldsThePixelsTheClientGot) {
    ASSERT_NO_FATAL_FAILURE(AcquirePages(300, 200, 1, 100));
    CDIB received;
    ASSERT_TRUE(received.ReadBmp((Folder() + "/out/image-001.bmp").c_str()));

    // The name's extension chooses PNG; the dialog offers BMP first.
    const std::string saved = Folder() + "/home/p.png";
    ASSERT_EQ(Velomark().Post(kCommandFileSaveAs), 0);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog("^Save As$", "ctrl+a", "~/p.png"));
    ASSERT_TRUE(WaitForFile(saved));
    EXPECT_EQ(FileBytes(saved).substr(0, 4), "\x89PNG");
    const std::string raw = Folder() + "/p.rgb";
    const testing::ProgramOutput decode =
        testing::RunProgram({VELOMARK_CONVERT, saved, "-depth", "8", "RGB:" + raw});
    ASSERT_EQ(decode.exitCode, 0) << decode.err;
    const std::string rgb = FileBytes(raw);
    ASSERT_EQ(rgb.size(), size_t(300 * 200 * 3));
    int different = 0;
    for (int y = 0; y < 200; ++y) {
        const BYTE* row = received.GetRowPtr(y);
        for (int x = 0; x < 300; ++x) {
            const char* p = &rgb[size_t(y * 300 + x) * 3];
            if (BYTE(p[0]) != row[3 * x + 2] || BYTE(p[1]) != row[3 * x + 1] ||
                BYTE(p[2]) != row[3 * x])
                ++different;
        }
    }
    EXPECT_EQ(different, 0);
    ExitAndExpectCleanEnd();
}

TEST_F(PageFilesTest, SaveAllPagesMakesOneLetterPdfPagePerScan) {
    // Letter at 150 dpi: 1275 x 1650 pixels, 8.5 x 11 inches.
    ASSERT_NO_FATAL_FAILURE(AcquirePages(1275, 1650, 3, 150));
    const std::string saved = Folder() + "/home/a.pdf";
    ASSERT_EQ(Velomark().Post(kCommandSaveAllPages), 0);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog("^Save All Pages$", "ctrl+a", "~/a.pdf"));
    ASSERT_TRUE(WaitForFile(saved));
    const testing::ProgramOutput info =
        testing::RunProgram({"pdfinfo", "-f", "1", "-l", "9", saved});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    std::string text;  // runs of blanks as one
    for (char c : info.out)
        if (c != ' ' || text.empty() || text.back() != ' ') text += c;
    EXPECT_NE(text.find("Pages: 3\n"), std::string::npos) << text;
    for (int page = 1; page <= 3; ++page) {
        const std::string line = "Page " + std::to_string(page) + " size: 612 x 792 pts";
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    }
    ExitAndExpectCleanEnd();
}

}  // namespace
}  // namespace velomark::e2e
