// main() of the test programs that run their tests from inside the wx main loop,
// with a main frame as the program has (Xvfb in the suite).
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>

namespace {

class LoopTestApp : public wxApp {
public:
    bool OnInit() override {
        SetExitOnFrameDelete(false);
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Velomark");
        frame->Show();
        SetTopWindow(frame);
        CallAfter([this, frame] {
            m_result = RUN_ALL_TESTS();
            frame->Destroy();
            ExitMainLoop();
        });
        return true;
    }
    int OnRun() override {
        wxApp::OnRun();
        return m_result;
    }

private:
    int m_result = 1;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(LoopTestApp);

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return wxEntry(argc, argv);
}
