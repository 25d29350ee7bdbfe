// Where the command socket lives, with and without a runtime folder.
#include <sys/stat.h>

#include "bridge/CommandSocketPath.h"
#include "tests/bridge/CommandServerTestSupport.h"

namespace velomark::testing {
namespace {

using CommandServerPathTest = CommandSocketTest;

TEST_F(CommandServerPathTest, TheRuntimeFolderHoldsTheSocketWithTheSuffix) {
    std::string path, error;
    ASSERT_TRUE(CommandSocketPath::Resolve(path, error)) << error;
    EXPECT_EQ(path, m_path);
    unsetenv("VELOMARK_CHANNEL_SUFFIX");
    ASSERT_TRUE(CommandSocketPath::Resolve(path, error));
    EXPECT_EQ(path, m_folder + "/velomark.sock");
}

TEST_F(CommandServerPathTest, WithoutARuntimeFolderAPrivateTmpFolderIsUsed) {
    unsetenv("XDG_RUNTIME_DIR");
    std::string path, error;
    ASSERT_TRUE(CommandSocketPath::Resolve(path, error)) << error;
    const std::string folder = "/tmp/velomark-" + std::to_string(getuid());
    EXPECT_EQ(path, folder + "/" + CommandSocketPath::FileName());
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, getuid());
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    setenv("XDG_RUNTIME_DIR", "", 1);  // empty counts as unset
    std::string again;
    ASSERT_TRUE(CommandSocketPath::Resolve(again, error));
    EXPECT_EQ(again, path);
}

TEST_F(CommandServerPathTest, APathTooLongForASocketAddressIsRefused) {
    setenv("XDG_RUNTIME_DIR", ("/tmp/" + std::string(120, 'r')).c_str(), 1);
    std::string path = "unchanged", error;
    EXPECT_FALSE(CommandSocketPath::Resolve(path, error));
    EXPECT_EQ(path, "unchanged");
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    UiThreadTarget target;
    CommandServer server(target, m_streams);
    EXPECT_FALSE(server.Start());
    EXPECT_FALSE(server.ErrorText().empty());
}

}  // namespace
}  // namespace velomark::testing
