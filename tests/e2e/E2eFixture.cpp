#include "tests/e2e/E2eFixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "tests/e2e/ScreenImage.h"
#include "tests/e2e/X11Input.h"

namespace velomark::e2e {

void E2eFixture::SetUp() {
    char folder[] = "/tmp/velomark-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_folder = folder;
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_suffix = "-e2e-" + name.substr(0, 20) + "-" + std::to_string(getpid());
    for (char& c : m_suffix)
        if (c == '/') c = '_';
    // The test itself and velomark-client speak on the same channel as the program.
    setenv("VELOMARK_CHANNEL_SUFFIX", m_suffix.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", m_folder.c_str(), 1);
    for (const char* sub : {"/config", "/home", "/out"})
        std::filesystem::create_directories(m_folder + sub);
    m_programEnvironment = {
        {"XDG_CONFIG_HOME", m_folder + "/config"},
        {"HOME", m_folder + "/home"},
        {"NO_AT_BRIDGE", "1"},
        // The file dialogs keep their settings in memory instead of asking for D-Bus.
        {"GSETTINGS_BACKEND", "memory"},
        {"SANE_CONFIG_DIR", VELOMARK_SANE_NONE_DIR},
        {"LSAN_OPTIONS", "suppressions=" VELOMARK_LSAN_SUPPRESSIONS},
        {"VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart"},
    };
    m_velomark = std::make_unique<VelomarkProcess>(m_folder);
}

void E2eFixture::TearDown() {
    if (m_velomark->IsRunning()) {
        ADD_FAILURE() << "Velomark still ran at the end of the test; events:\n"
                      << m_velomark->EventText();
        if (!Headless()) {
            ScreenImage screen;
            std::string ignored;
            screen.Capture(m_folder + "/at-failure.png", ignored);
        }
        if (m_velomark->Stop(20000) == -1) ADD_FAILURE() << "its orderly end did not end it";
    }
    EXPECT_EQ(m_velomark->SanitizerReport(), "") << "stderr of Velomark:\n"
                                                 << m_velomark->ErrorOutput();
    // The last process to close a section removes it.
    EXPECT_FALSE(std::filesystem::exists(SectionFile("dllmemfilemap")));
    EXPECT_FALSE(std::filesystem::exists(SectionFile("dllmemfilemapStatus")));
    // A program ended by force leaves them behind: gone, so that no later run sees them.
    std::error_code ignored;
    std::filesystem::remove(SectionFile("dllmemfilemap"), ignored);
    std::filesystem::remove(SectionFile("dllmemfilemapStatus"), ignored);
    unsetenv("VELOMARK_CHANNEL_SUFFIX");
    unsetenv("XDG_RUNTIME_DIR");
    if (HasFailure()) {
        std::printf("The failed test's files stay in %s\n", m_folder.c_str());
        return;
    }
    std::filesystem::remove_all(m_folder, ignored);
}

void E2eFixture::SetProgramVariable(const std::string& name, const std::string& value) {
    m_programEnvironment[name] = value;
}

void E2eFixture::UseTestChart(const char* type, int width, int height, int pages, int dpi) {
    SetProgramVariable("VELOMARK_TESTCHART_TYPE", type);
    SetProgramVariable("VELOMARK_TESTCHART_SIZE",
                       std::to_string(width) + "x" + std::to_string(height));
    SetProgramVariable("VELOMARK_TESTCHART_PAGES", std::to_string(pages));
    SetProgramVariable("VELOMARK_TESTCHART_DPI", std::to_string(dpi));
}

void E2eFixture::StartVelomark(bool waitUntilShown, const std::vector<std::string>& arguments) {
    std::string error;
    ASSERT_TRUE(m_velomark->Start(m_programEnvironment, error, arguments)) << error;
    if (!waitUntilShown) return;
    ASSERT_TRUE(Headless() || m_velomark->WaitForEvents("shown", 1, kStartTimeoutMs))
        << "events:\n"
        << m_velomark->EventText() << "stderr:\n"
        << m_velomark->ErrorOutput();
    ASSERT_TRUE(m_velomark->WaitForEvents("ready /", 1, kStartTimeoutMs))
        << m_velomark->EventText();
}

void E2eFixture::AnswerFileDialog(const char* title, const char* selectKeys,
                                  const std::string& path) {
    // The dialog completes names while they are typed; a completion that comes late
    // lands after later keys ("page1.bmpbmp"). So a path that did not close the
    // dialog is typed again over the whole entry, each time more slowly.
    constexpr int kKeyDelaysMs[] = {0, 60, 150};
    const std::optional<WindowBox> dialog = X11Input::WaitForWindow(title);
    ASSERT_TRUE(dialog.has_value()) << title;
    ASSERT_TRUE(X11Input::PointAt(*dialog));
    ASSERT_TRUE(X11Input::Key(selectKeys));
    bool closed = false;
    for (int delayMs : kKeyDelaysMs) {
        ASSERT_TRUE(X11Input::TypePath(path, delayMs));
        // The first Return may only close the entry's list of completions.
        for (int attempt = 0; attempt < 2 && !closed; ++attempt) {
            ASSERT_TRUE(X11Input::Key("Return"));
            closed = X11Input::WaitForNoWindow(title, 3000);
        }
        if (closed) break;
        ASSERT_TRUE(X11Input::Key("ctrl+a"));
    }
    ASSERT_TRUE(closed) << "the dialog stayed open";
}

void E2eFixture::AnswerSaveQuestion(const char* keys) {
    const std::optional<WindowBox> box = X11Input::WaitForWindow("^Velomark$");
    ASSERT_TRUE(box.has_value()) << "no question; events:\n" << m_velomark->EventText();
    ASSERT_TRUE(X11Input::PointAt(*box));
    ASSERT_TRUE(X11Input::Key(keys));
    // Gone before the next question (a new box) is looked for.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        const std::vector<unsigned long> boxes = X11Input::FindWindows("^Velomark$");
        if (std::find(boxes.begin(), boxes.end(), box->id) == boxes.end()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void E2eFixture::ExitAndExpectCleanEnd(const char* saveAnswer, int questions) {
    int exitCode = -1;
    if (Headless()) {
        exitCode = m_velomark->Stop(kStartTimeoutMs);
    } else if (saveAnswer) {
        ASSERT_EQ(m_velomark->Post(kCommandAppExit), 0);
        for (int i = 0; i < questions; ++i) ASSERT_NO_FATAL_FAILURE(AnswerSaveQuestion(saveAnswer));
        exitCode = m_velomark->WaitForEnd(kStartTimeoutMs);
    } else {
        exitCode = m_velomark->ExitByMenu(kStartTimeoutMs);
    }
    EXPECT_EQ(exitCode, 0) << "stderr:\n" << m_velomark->ErrorOutput();
    if (!Headless()) {
        EXPECT_EQ(m_velomark->CountEvents("closing"), 1) << m_velomark->EventText();
    }
    EXPECT_EQ(m_velomark->CountEvents("exit"), 1) << m_velomark->EventText();
}

void E2eFixture::UseProgramsIn(const std::string& binFolder) {
    m_velomark->SetProgram(binFolder + "/velomark");
    m_client = binFolder + "/velomark-client";
}

testing::ProgramOutput E2eFixture::RunClient(const std::vector<std::string>& arguments,
                                             int timeoutMs) {
    std::vector<std::string> argv{m_client};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testing::RunProgram(argv, timeoutMs);
}

}  // namespace velomark::e2e
