// The files a user keeps: a page saved as BMP, PNG, TIFF or JPEG opens again with its
// pixels and its resolution; the name's extension chooses the format; a failed save
// leaves the old file whole; Save All Pages puts every open page into one PDF or TIFF.
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "docview/ImageFileFormat.h"
#include "docview/SaveAllPages.h"
#include "docview/VelomarkDoc.h"
#include "tests/docview/DocviewFixture.h"

namespace docviewtest {
namespace {

using velomark::ImageFileFormat;

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::optional<ImageFileFormat> SignatureOf(const std::string& path) {
    const std::string bytes = FileBytes(path);
    return velomark::FormatOfSignature(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       bytes.size());
}

// The largest difference of one colour channel between two 24-bit images of one size.
int LargestDifference(const CDIB& a, const CDIB& b) {
    int largest = 0;
    for (int y = 0; y < a.m_nHeight; ++y) {
        const BYTE* p = a.GetRowPtr(y);
        const BYTE* q = b.GetRowPtr(y);
        for (int i = 0; i < a.m_nWidth * 3; ++i) largest = std::max(largest, std::abs(p[i] - q[i]));
    }
    return largest;
}

// A smooth 24-bit image (which JPEG keeps closely).
void FillSmooth(CDIB& dib, int width, int height) {
    ASSERT_TRUE(dib.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        BYTE* row = dib.GetRowPtr(y);
        for (int x = 0; x < width; ++x)
            row[3 * x] = BYTE(x * 4), row[3 * x + 1] = BYTE(y * 3),
                    row[3 * x + 2] = BYTE(128 + x - y);
    }
}

class PageFileTest : public DocviewFixture {
protected:
    CVelomarkDoc* PageDocument(int width, int height, double xDpi, double yDpi, bool smooth) {
        CVelomarkDoc* doc = NewDocument();
        EXPECT_NE(doc, nullptr);
        if (smooth) {
            FillSmooth(doc->m_dib, width, height);
        } else {
            FillPattern24(doc->m_dib, width, height);
        }
        doc->ImageSide().SetResolution(xDpi, yDpi);
        doc->ImageSide().UpdateAllViews();
        return doc;
    }
};

TEST_F(PageFileTest, EachFormatOpensAgainWithItsPixelsAndResolution) {
    struct Case {
        const char* name;
        ImageFileFormat format;
        int tolerance;
    };
    const Case cases[] = {{"page.bmp", ImageFileFormat::Bmp, 0},
                          {"page.png", ImageFileFormat::Png, 0},
                          {"page.TIFF", ImageFileFormat::Tiff, 0},
                          {"page.jpg", ImageFileFormat::Jpeg, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CVelomarkDoc* doc = PageDocument(61, 47, 300, 150, c.format == ImageFileFormat::Jpeg);
        const std::string path = TempPath(c.name);
        // The dialog's type (BMP here) gives way to the name's extension.
        ASSERT_TRUE(doc->SaveImageAs(wxString::FromUTF8(path), ImageFileFormat::Bmp));
        EXPECT_EQ(SignatureOf(path), c.format);
        CDIB original;
        ASSERT_TRUE(original.CopyFrom(doc->m_dib));
        m_manager->CloseDocument(doc, true);

        CVelomarkDoc* reopened = OpenDocument(path);
        ASSERT_NE(reopened, nullptr);
        ASSERT_EQ(reopened->m_dib.m_nWidth, 61);
        ASSERT_EQ(reopened->m_dib.m_nHeight, 47);
        EXPECT_LE(LargestDifference(reopened->m_dib, original), c.tolerance);
        EXPECT_EQ(reopened->Resolution().x, 300);
        EXPECT_EQ(reopened->Resolution().y, 150);
        m_manager->CloseDocument(reopened, true);
    }
}

TEST_F(PageFileTest, NameWithoutExtensionTakesTheDialogsType) {
    CVelomarkDoc* doc = PageDocument(9, 7, 0, 0, false);
    const std::string path = TempPath("scan");
    ASSERT_TRUE(doc->SaveImageAs(wxString::FromUTF8(path), ImageFileFormat::Tiff));
    EXPECT_EQ(SignatureOf(path), ImageFileFormat::Tiff);
    EXPECT_EQ(doc->GetFilename(), wxString::FromUTF8(path));
}

TEST_F(PageFileTest, SaveThatFailsMidwayLeavesTheOldFileWhole) {
    const std::string path = TempPath("kept.png");
    const std::string old(200000, 'k');
    std::ofstream(path, std::ios::binary) << old;
    CVelomarkDoc* doc = PageDocument(400, 300, 300, 300, false);
    // In a child, files may grow to 4 KiB only: the write fails with EFBIG.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096, 4096};
        std::signal(SIGXFSZ, SIG_IGN);
        LogCapture log;
        const bool saved = setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                           doc->SaveImageAs(wxString::FromUTF8(path), ImageFileFormat::Png);
        const bool named = log.errors.size() == 1 && log.errors[0].find(path) != std::string::npos;
        _exit(!saved && named ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(FileBytes(path) == old) << "the old file was changed";
    EXPECT_EQ(access(TempPath(".kept.png.saving").c_str(), F_OK), -1);
}

TEST_F(PageFileTest, AllPagesGoIntoOnePdfAtTheirPhysicalSize) {
    PageDocument(170, 220, 20, 20, false);  // 8.5 x 11 in: 612 x 792 pt
    NewDocument();                          // no page: left out
    PageDocument(100, 50, 0, 0, false);     // unknown: 72 dpi, a point per pixel
    PageDocument(300, 150, 100, 50, false);
    const std::string path = TempPath("pages");
    ASSERT_TRUE(
        velomark::SavePagesAs(*m_manager, wxString::FromUTF8(path), velomark::PageSetFormat::Pdf));
    const std::string command = "pdfinfo -f 1 -l 9 '" + path + "' > '" + path + ".txt'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string info;  // with runs of blanks as one
    for (char c : FileBytes(path + ".txt"))
        if (c != ' ' || info.empty() || info.back() != ' ') info += c;
    EXPECT_NE(info.find("Pages: 3\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Page 1 size: 612 x 792 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page 2 size: 100 x 50 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page 3 size: 216 x 216 pts"), std::string::npos) << info;
}

TEST_F(PageFileTest, AllPagesGoIntoOneTiffWithPixelsAndResolution) {
    PageDocument(31, 17, 300, 300, false);
    CVelomarkDoc* second = PageDocument(23, 11, 150, 75, false);
    const std::string path = TempPath("pages.tif");
    ASSERT_TRUE(
        velomark::SavePagesAs(*m_manager, wxString::FromUTF8(path), velomark::PageSetFormat::Pdf));
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tif), 2);
    ASSERT_TRUE(TIFFSetDirectory(tif, 1));
    uint32_t width = 0, height = 0;
    float xRes = 0, yRes = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xRes);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yRes);
    EXPECT_EQ(width, 23u);
    EXPECT_EQ(height, 11u);
    EXPECT_EQ(xRes, 150.0f);
    EXPECT_EQ(yRes, 75.0f);
    std::vector<unsigned char> row(TIFFScanlineSize(tif));
    ASSERT_EQ(row.size(), 23u * 3);
    // Compressed rows are read in order.
    for (uint32_t y = 0; y <= 10; ++y) ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
    const BYTE* expected = second->m_dib.GetRowPtr(10);
    for (int x = 0; x < 23; ++x) {
        EXPECT_EQ(row[3 * x], expected[3 * x + 2]) << x;
        EXPECT_EQ(row[3 * x + 2], expected[3 * x]) << x;
    }
    TIFFClose(tif);
}

}  // namespace
}  // namespace docviewtest
