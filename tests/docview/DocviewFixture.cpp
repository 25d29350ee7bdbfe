#include "tests/docview/DocviewFixture.h"

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/filefn.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>

#include "docview/VelomarkDoc.h"
#include "docview/VelomarkView.h"

namespace docviewtest {

void FillPattern24(CDIB& dib, int width, int height) {
    ASSERT_TRUE(dib.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        BYTE* row = dib.GetRowPtr(y);
        for (int x = 0; x < width; ++x) {
            const COLORREF c = PatternColor(x, y);
            row[3 * x] = BYTE(c >> 16), row[3 * x + 1] = BYTE(c >> 8), row[3 * x + 2] = BYTE(c);
        }
    }
}

void FillIndexed(CDIB& dib, int width, int height, int bits, unsigned seed) {
    ASSERT_TRUE(dib.Create(width, height, bits));
    std::mt19937 random(seed);
    std::vector<RGBQUAD> colors(size_t(1) << bits);
    for (size_t i = 0; i < colors.size(); ++i) {
        colors[i] = {BYTE(i * 3 + 1), BYTE(255 - i), BYTE(i * 11 + 40), 0};
    }
    dib.SetColorTable(colors.data());
    for (int y = 0; y < height; ++y) {
        BYTE* row = dib.GetRowPtr(y);
        for (int i = 0; i < dib.m_nStride; ++i) row[i] = BYTE(random());
    }
}

void DocviewFixture::SetUp() {
    char folder[] = "/tmp/velomark-docview-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_folder = folder;
    m_manager = new TestDocManager;
    // Any name, as the program's: a file is known by its first bytes.
    new wxDocTemplate(m_manager, "Velomark image", "*", "", "", "Velomark Document",
                      "Velomark View", wxCLASSINFO(CVelomarkDoc), wxCLASSINFO(CVelomarkView));
    m_parent = new wxDocParentFrameAny<wxAuiMDIParentFrame>(
        m_manager, nullptr, wxID_ANY, "Velomark test", wxDefaultPosition, wxSize(820, 640));
    wxTheApp->SetTopWindow(m_parent);
    m_parent->Show();
    Pump(50);
}

void DocviewFixture::TearDown() {
    if (m_manager) {
        // Unsaved pages would ask; the tests are done with them.
        for (wxDocument* doc : m_manager->GetDocumentsVector()) doc->Modify(false);
        m_manager->CloseDocuments(true);
    }
    if (m_parent) m_parent->Destroy();
    Pump(20);
    delete m_manager;
    m_manager = nullptr;
    m_parent = nullptr;
    if (!m_folder.empty()) {
        const std::string command = "rm -rf '" + m_folder + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

void DocviewFixture::Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

bool DocviewFixture::PumpUntil(const std::function<bool()>& done, int ms) {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    std::unique_ptr<wxEventLoopBase> own;
    std::unique_ptr<wxEventLoopActivator> activator;
    if (!loop) {
        own.reset(wxTheApp->GetTraits()->CreateEventLoop());
        activator = std::make_unique<wxEventLoopActivator>(own.get());
        loop = own.get();
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        while (loop->Pending()) loop->Dispatch();
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        loop->DispatchTimeout(5);
    }
    return true;
}

CVelomarkDoc* DocviewFixture::NewDocument() {
    wxDocument* doc = m_manager->CreateDocument(wxString(), wxDOC_NEW);
    return dynamic_cast<CVelomarkDoc*>(doc);
}

CVelomarkDoc* DocviewFixture::OpenDocument(const std::string& path) {
    wxDocument* doc = m_manager->CreateDocument(wxString::FromUTF8(path), wxDOC_SILENT);
    return dynamic_cast<CVelomarkDoc*>(doc);
}

CVelomarkView* DocviewFixture::ViewOf(CVelomarkDoc* doc) {
    return doc ? dynamic_cast<CVelomarkView*>(doc->GetFirstView()) : nullptr;
}

}  // namespace docviewtest
