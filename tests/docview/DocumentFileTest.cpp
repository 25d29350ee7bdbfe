// File Save and File Open of a document, and how refused files and discarded
// documents leave nothing behind.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <type_traits>  // before wx/weakref.h, which uses it without including it

#include <wx/weakref.h>

#include "docview/VelomarkCanvas.h"
#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"
#include "platform/RasterSurface.h"
#include "tests/docview/DocviewFixture.h"

namespace docviewtest {
namespace {

// Every pixel of an image as the graphics functions decode it.
std::vector<COLORREF> Decoded(const CDIB& dib) {
    RasterSurface surface(dib.m_nWidth, dib.m_nHeight, 0xFFFFFFFF);
    dib.Draw(&surface, 0, 0, dib.m_nWidth, dib.m_nHeight, 0, 0);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < dib.m_nHeight; ++y) {
        for (int x = 0; x < dib.m_nWidth; ++x) pixels.push_back(surface.Pixel(x, y));
    }
    return pixels;
}

off_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class DocumentFileTest : public DocviewFixture {
protected:
    // Saves `doc` to `path`, closes it and opens the file again.
    CVelomarkDoc* SaveAndReopen(CVelomarkDoc* doc, const std::string& path) {
        EXPECT_TRUE(doc->OnSaveDocument(wxString::FromUTF8(path)));
        m_manager->CloseDocument(doc, true);
        return OpenDocument(path);
    }

    // Opening `path` is refused with an error naming the file, and leaves no document,
    // no window and no entry in the recent files.
    void ExpectRefused(const std::string& path, const std::string& reason) {
        LogCapture log;
        EXPECT_EQ(OpenDocument(path), nullptr);
        ASSERT_FALSE(log.errors.empty());
        const std::string& message = log.errors.front();
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << message;
        EXPECT_TRUE(m_manager->GetDocuments().empty());
        EXPECT_EQ(m_manager->GetHistoryFilesCount(), 0u);
        Pump(20);
        EXPECT_EQ(m_parent->GetActiveChild(), nullptr);
    }
};

TEST_F(DocumentFileTest, SavedImagesOpenWithIdenticalPixels) {
    const int bitCounts[] = {1, 4, 8, 24};
    for (int bits : bitCounts) {
        SCOPED_TRACE(bits);
        CVelomarkDoc* doc = NewDocument();
        ASSERT_NE(doc, nullptr);
        // Odd widths put padding at the end of every row.
        if (bits == 24) {
            FillPattern24(doc->m_dib, 37, 23);
        } else {
            FillIndexed(doc->m_dib, 37, 23, bits, unsigned(bits));
        }
        const std::vector<COLORREF> original = Decoded(doc->m_dib);
        const std::string path = TempPath("image" + std::to_string(bits) + ".bmp");

        CVelomarkDoc* reopened = SaveAndReopen(doc, path);
        ASSERT_NE(reopened, nullptr);
        EXPECT_EQ(reopened->m_dib.m_pInfo->biBitCount, bits);
        EXPECT_EQ(Decoded(reopened->m_dib), original);
        EXPECT_FALSE(reopened->IsModified());
        // The view takes the opened image's size and the window its file's name.
        CVelomarkView* view = ViewOf(reopened);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->Canvas()->ImageExtent(), wxSize(37, 23));
        EXPECT_EQ(view->GetFrame()->GetLabel(), wxString("image" + std::to_string(bits) + ".bmp"));
        m_manager->CloseDocument(reopened, true);
    }
    EXPECT_EQ(m_manager->GetHistoryFilesCount(), 4u);
}

TEST_F(DocumentFileTest, SaveReplacesALargerFileWholly) {
    const std::string path = TempPath("replaced.bmp");
    WriteText(path, std::string(100000, 'x'));
    CVelomarkDoc* doc = NewDocument();
    FillPattern24(doc->m_dib, 5, 3);
    ASSERT_TRUE(doc->OnSaveDocument(wxString::FromUTF8(path)));
    EXPECT_EQ(FileSize(path), 14 + 40 + 3 * 16);
    EXPECT_FALSE(doc->IsModified());
    // Nothing of the save is left beside the file.
    EXPECT_EQ(FileSize(TempPath(".replaced.bmp.saving")), -1);
}

TEST_F(DocumentFileTest, DocumentWithoutImageSavesAnEmptyFile) {
    const std::string path = TempPath("empty.bmp");
    WriteText(path, "old contents");
    CVelomarkDoc* doc = NewDocument();
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->OnSaveDocument(wxString::FromUTF8(path)));
    EXPECT_EQ(FileSize(path), 0);
}

TEST_F(DocumentFileTest, SaveIntoAMissingFolderFailsWithTheReason) {
    CVelomarkDoc* doc = NewDocument();
    FillPattern24(doc->m_dib, 4, 4);
    const std::string path = TempPath("no-such-folder/image.bmp");
    LogCapture log;
    EXPECT_FALSE(doc->OnSaveDocument(wxString::FromUTF8(path)));
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_NE(log.errors[0].find(path), std::string::npos) << log.errors[0];
    EXPECT_NE(log.errors[0].find("No such file or directory"), std::string::npos) << log.errors[0];
    EXPECT_NE(doc->m_dib.m_pBlock, nullptr);  // the image is still there to save elsewhere
}

TEST_F(DocumentFileTest, TextFileIsRefused) {
    const std::string path = TempPath("notes.bmp");
    WriteText(path, "These are notes, not an image.\n");
    ExpectRefused(path, "is not a BMP image Velomark can read");
}

TEST_F(DocumentFileTest, EmptyFileIsRefused) {
    const std::string path = TempPath("nothing.bmp");
    WriteText(path, "");
    ExpectRefused(path, "is not a BMP image Velomark can read");
}

TEST_F(DocumentFileTest, TruncatedBmpIsRefused) {
    CDIB dib;
    FillPattern24(dib, 40, 30);
    const std::string path = TempPath("truncated.bmp");
    ASSERT_TRUE(dib.SaveBmp(path.c_str(), FALSE));
    ASSERT_EQ(::truncate(path.c_str(), FileSize(path) / 2), 0);
    ExpectRefused(path, "is not a BMP image Velomark can read");
}

TEST_F(DocumentFileTest, MissingFileIsRefused) {
    ExpectRefused(TempPath("absent.bmp"), "absent.bmp");
}

TEST_F(DocumentFileTest, NewDocumentsAreUntitledEmptyAndUnmodified) {
    CVelomarkDoc* first = NewDocument();
    CVelomarkDoc* second = NewDocument();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->m_dib.m_pBlock, nullptr);
    EXPECT_EQ(first->GetUserReadableName(), "Velomark1");
    EXPECT_EQ(ViewOf(second)->GetFrame()->GetLabel(), "Velomark2");
    // An acquired page is unsaved until it reaches the client.
    FillPattern24(first->ImageSide().Image(), 8, 8);
    first->ImageSide().UpdateAllViews();
    EXPECT_TRUE(first->IsModified());
    first->MarkSentToClient();
    EXPECT_FALSE(first->IsModified());
    EXPECT_TRUE(m_manager->CloseDocument(first, false));
    EXPECT_EQ(m_manager->GetDocuments().size(), 1u);
}

TEST_F(DocumentFileTest, DiscardClosesTheDocumentAndItsWindow) {
    CVelomarkDoc* doc = NewDocument();
    ASSERT_NE(doc, nullptr);
    CVelomarkView* view = ViewOf(doc);
    wxWeakRef<wxWindow> frame(view->GetFrame());
    wxWeakRef<wxWindow> canvas(view->Canvas());
    ASSERT_TRUE(frame && canvas);

    doc->ImageSide().Discard();
    EXPECT_TRUE(m_manager->GetDocuments().empty());
    EXPECT_TRUE(PumpUntil([&] { return !frame && !canvas; }, 2000));
}

}  // namespace
}  // namespace docviewtest
