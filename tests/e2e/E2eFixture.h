// Every end-to-end test runs the real program on a channel and in folders of its own:
// a section suffix made of the test's name and process id, a runtime folder for the
// socket, a settings folder and a home. At the end the program must be gone, its
// stderr free of sanitizer reports, and the two sections removed.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sources/testchart/TestChartSettings.h"
#include "tests/ProgramRun.h"
#include "tests/e2e/VelomarkProcess.h"

namespace velomark::e2e {

constexpr int kStartTimeoutMs = 60000;
constexpr int kImageTimeoutMs = 60000;

// What a case runs through: the desktop program under Xvfb, or `velomark --headless`
// (the same engine with no window: no documents, no "shown" or "closing").
enum class Program { Desktop, Headless };
inline const char* ProgramName(Program program) {
    return program == Program::Desktop ? "desktop" : "headless";
}

class E2eFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A variable of the program's environment (not the test's).
    void SetProgramVariable(const std::string& name, const std::string& value);
    // The test chart's pages through the environment.
    void UseTestChart(const char* type, int width, int height, int pages, int dpi = 100);
    // Before StartVelomark: which program the test starts.
    void UseProgram(Program program) { m_velomark->SetHeadless(program == Program::Headless); }
    bool Headless() const { return m_velomark->Headless(); }
    // Starts Velomark and, unless told otherwise, waits until its frame is shown
    // (headless: until its socket is ready).
    void StartVelomark(bool waitUntilShown = true, const std::vector<std::string>& arguments = {});
    // File > Exit (headless: SIGTERM), then: exit code 0 and the events of an orderly
    // end. With `saveAnswer`, the `questions` unsaved pages' questions come first and
    // each gets those keys (headless has no pages to save and asks nothing).
    void ExitAndExpectCleanEnd(const char* saveAnswer = nullptr, int questions = 1);
    // The question an unsaved page asks before it closes: a box titled "Velomark"
    // (the main window then carries the page's name), answered with `keys`.
    void AnswerSaveQuestion(const char* keys);

    // Answers a GTK file dialog as a person would: `selectKeys` to reach the name
    // entry, the path typed, then Return until the dialog is gone.
    void AnswerFileDialog(const char* title, const char* selectKeys, const std::string& path);

    // velomark and velomark-client from `binFolder` instead of the build's.
    void UseProgramsIn(const std::string& binFolder);
    // velomark-client with the test's channel.
    testing::ProgramOutput RunClient(const std::vector<std::string>& arguments,
                                     int timeoutMs = 90000);

    VelomarkProcess& Velomark() { return *m_velomark; }
    const std::string& Folder() const { return m_folder; }
    const std::string& Suffix() const { return m_suffix; }
    std::string SectionFile(const char* baseName) const {
        return std::string("/dev/shm/") + baseName + m_suffix;
    }

private:
    std::string m_folder;
    std::string m_suffix;
    std::string m_client = VELOMARK_CLIENT_PATH;
    std::map<std::string, std::string> m_programEnvironment;
    std::unique_ptr<VelomarkProcess> m_velomark;
};

}  // namespace velomark::e2e
