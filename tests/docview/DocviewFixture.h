// A wx document manager with the Velomark template and a tabbed main window, as the
// desktop program sets them up, plus the helpers the document and view tests share:
// test images, event pumping, captured log messages and drawing into memory.
#pragma once

#include <gtest/gtest.h>
#include <wx/defs.h>  // before tabmdi.h, which tests wxUSE_AUI first
#include <wx/aui/tabmdi.h>
#include <wx/docview.h>
#include <wx/image.h>
#include <wx/log.h>

#include <functional>
#include <string>
#include <vector>

#include "dib/Dib.h"

class CVelomarkDoc;
class CVelomarkView;

namespace docviewtest {

// Colour 0x00BBGGRR of pixel (x, y) of the test pattern: every nearby pixel differs.
inline COLORREF PatternColor(int x, int y) {
    const unsigned r = (x * 7 + y) & 0xFF, g = (y * 5 + (x >> 8)) & 0xFF, b = (x + 3 * y) & 0xFF;
    return r | (g << 8) | (b << 16);
}

// A 24-bit image of the pattern.
void FillPattern24(CDIB& dib, int width, int height);
// An image of `bits` (1, 4, 8) with a colour table of distinct colours and pseudo-random rows.
void FillIndexed(CDIB& dib, int width, int height, int bits, unsigned seed);

// The colour at (x, y) of an image read back from a bitmap, as 0x00BBGGRR.
inline COLORREF ColorAt(const wxImage& image, int x, int y) {
    return image.GetRed(x, y) | (image.GetGreen(x, y) << 8) | (image.GetBlue(x, y) << 16);
}

// Messages logged while it is alive.
class LogCapture : public wxLog {
public:
    LogCapture() : m_previous(wxLog::SetActiveTarget(this)) {}
    ~LogCapture() override { wxLog::SetActiveTarget(m_previous); }
    std::vector<std::string> errors;

protected:
    void DoLogTextAtLevel(wxLogLevel level, const wxString& text) override {
        if (level <= wxLOG_Error) errors.push_back(text.ToStdString());
    }

private:
    wxLog* m_previous;
};

// Names untitled documents as the program does.
class TestDocManager : public wxDocManager {
public:
    wxString MakeNewDocumentName() override { return wxString::Format("Velomark%d", ++m_count); }

private:
    int m_count = 0;
};

class DocviewFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the event loop for `ms` milliseconds, idle processing included.
    static void Pump(int ms);
    // Runs the event loop until `done` holds or `ms` milliseconds have passed.
    static bool PumpUntil(const std::function<bool()>& done, int ms);

    CVelomarkDoc* NewDocument();
    // Opens `path` through the document manager as File Open does; null when refused.
    CVelomarkDoc* OpenDocument(const std::string& path);
    static CVelomarkView* ViewOf(CVelomarkDoc* doc);
    // A file path in this test's own temporary folder.
    std::string TempPath(const std::string& name) const { return m_folder + "/" + name; }

    TestDocManager* m_manager = nullptr;
    wxDocParentFrameAny<wxAuiMDIParentFrame>* m_parent = nullptr;
    std::string m_folder;
};

}  // namespace docviewtest
