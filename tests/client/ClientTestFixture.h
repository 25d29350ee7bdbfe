// Every client test runs on its own channel: a section suffix made of the test's
// name and process id, and a runtime folder of its own for the command socket.
// Programs the test starts inherit both.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace velomark::testing {

class ClientTestFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/velomark-client-test-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_suffix = "-" + name.substr(0, 24) + "-" + std::to_string(getpid());
        setenv("VELOMARK_CHANNEL_SUFFIX", m_suffix.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_folder.c_str(), 1);
    }
    void TearDown() override {
        EndPrograms();
        // Every process closed both sections, so the last one removed them.
        EXPECT_FALSE(std::filesystem::exists(SectionFile("dllmemfilemap")));
        EXPECT_FALSE(std::filesystem::exists(SectionFile("dllmemfilemapStatus")));
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        unsetenv("VELOMARK_CHANNEL_SUFFIX");
        unsetenv("XDG_RUNTIME_DIR");
    }

    // Ends what the test started and closes what it opened, before the check.
    virtual void EndPrograms() {}

    const std::string& Folder() const { return m_folder; }
    const std::string& Suffix() const { return m_suffix; }
    std::string SocketPath() const { return m_folder + "/velomark" + m_suffix + ".sock"; }
    // Where the system keeps a POSIX shared-memory object of that name.
    std::string SectionFile(const char* baseName) const {
        return std::string("/dev/shm/") + baseName + m_suffix;
    }

private:
    std::string m_folder;
    std::string m_suffix;
};

}  // namespace velomark::testing
