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

class E2eFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A variable of the program's environment (not the test's).
    void SetProgramVariable(const std::string& name, const std::string& value);
    // The test chart's pages through the environment.
    void UseTestChart(const char* type, int width, int height, int pages, int dpi = 100);
    // Starts Velomark and, unless told otherwise, waits until its frame is shown.
    void StartVelomark(bool waitUntilShown = true, const std::vector<std::string>& arguments = {});
    // File > Exit, then: exit code 0 and the events of an orderly end. With
    // `saveAnswer`, an unsaved page's question comes first and gets those keys.
    void ExitAndExpectCleanEnd(const char* saveAnswer = nullptr);
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
