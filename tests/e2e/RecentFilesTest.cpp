// What the program keeps and what it ignores at start: the recent-file list of four
// entries survives a restart; a file named on the command line opens nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dib/Dib.h"
#include "tests/e2e/ChartPages.h"
#include "tests/e2e/E2eFixture.h"

namespace velomark::e2e {
namespace {

constexpr uint16_t kCommandRecentFile4 = kCommandRecentFile1 + 3;

class StartAndRecentFilesTest : public E2eFixture {
protected:
    // A small test-chart page saved as a BMP file in the program's home folder.
    std::string WritePage(const std::string& name, int pageNumber) {
        CDIB page;
        EXPECT_TRUE(LoadChartPage(SmallChart(ChartPixelType::Rgb, 64, 48, 9), pageNumber, page));
        const std::string path = Folder() + "/home/" + name;
        EXPECT_TRUE(page.SaveBmp(path.c_str(), FALSE)) << path;
        return path;
    }

    std::string SettingsText() {
        std::ifstream file(Folder() +
                           "/config/Local AppWizard-Generated Applications/Velomark.ini");
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

TEST_F(StartAndRecentFilesTest, FileOnTheCommandLineOpensNoDocument) {
    const std::string path = WritePage("given.bmp", 1);
    ASSERT_NO_FATAL_FAILURE(StartVelomark(true, {path}));
    // Save and Close have nothing to act on.
    EXPECT_EQ(Velomark().Send(kCommandFileSave), -1);
    EXPECT_EQ(Velomark().Send(kCommandFileClose), -1);
    EXPECT_EQ(Velomark().Send(kCommandFileNew), 0);
    EXPECT_EQ(Velomark().Send(kCommandFileClose), 0);
    ExitAndExpectCleanEnd();
}

TEST_F(StartAndRecentFilesTest, LastFourOpenedFilesSurviveARestart) {
    // Files named "1" to "5" in the program's home, typed as "~/1": the file dialog
    // completes names as they are typed, and a name that is whole from its first key
    // leaves it nothing to add (a longer path, say in /tmp, gets garbled at times).
    std::vector<std::string> paths;
    for (int i = 1; i <= 5; ++i) paths.push_back(WritePage(std::to_string(i), i));

    ASSERT_NO_FATAL_FAILURE(StartVelomark());
    EXPECT_EQ(Velomark().Send(kCommandRecentFile1), -1);  // the list is empty
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        ASSERT_EQ(Velomark().Post(kCommandFileOpen), 0);
        ASSERT_NO_FATAL_FAILURE(
            AnswerFileDialog("^Open File$", "ctrl+l", "~/" + std::to_string(i + 1)));
        // Opened: there is a document to close.
        EXPECT_EQ(Velomark().Send(kCommandFileClose), 0) << path;
    }
    ExitAndExpectCleanEnd();

    // Newest first; the first file opened fell off the end.
    const std::string settings = SettingsText();
    // The settings file writes the group's blanks escaped.
    const size_t group = settings.find("[Recent\\ File\\ List]");
    ASSERT_NE(group, std::string::npos) << settings;
    size_t at = group;
    for (int i = 0; i < 4; ++i) {
        const std::string entry = "file" + std::to_string(i + 1) + "=" + paths[4 - i];
        const size_t found = settings.find(entry, at);
        EXPECT_NE(found, std::string::npos) << entry << " in\n" << settings;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(settings.find(paths[0]), std::string::npos) << settings;

    // After a restart (with a fresh event log) the fourth entry opens its file.
    std::filesystem::remove(Velomark().EventLogPath());
    ASSERT_NO_FATAL_FAILURE(StartVelomark());
    EXPECT_EQ(Velomark().Send(kCommandRecentFile4), 0);
    EXPECT_EQ(Velomark().Send(kCommandFileClose), 0);
    ExitAndExpectCleanEnd();
}

}  // namespace
}  // namespace velomark::e2e
