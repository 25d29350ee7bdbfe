// `velomark --headless` (the engine, CTwain, the real DSM, the test-chart source
// unattended, the real channel and socket) started beside a client test.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/client/ChildProcess.h"
#include "tests/client/ClientTestFixture.h"

namespace velomark::testing {

class HeadlessTest : public ClientTestFixture {
protected:
    void SetUp() override {
        ClientTestFixture::SetUp();
        const std::string config = Folder() + "/config";
        std::filesystem::create_directories(config);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("VELOMARK_UNATTENDED", "1", 1);
        setenv("VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart", 1);
        setenv("VELOMARK_TESTCHART_SIZE", "173x61", 1);
        setenv("VELOMARK_TESTCHART_DPI", "150", 1);
        setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
        unsetenv("VELOMARK_DSM");
    }
    void TearDown() override {
        ClientTestFixture::TearDown();
        for (const char* name :
             {"XDG_CONFIG_HOME", "VELOMARK_UNATTENDED", "VELOMARK_DEFAULT_SOURCE",
              "VELOMARK_TESTCHART_SIZE", "VELOMARK_TESTCHART_DPI", "VELOMARK_TESTCHART_PAGES",
              "VELOMARK_TESTCHART_TYPE", "VELOMARK_DSM"})
            unsetenv(name);
    }
    void EndPrograms() override { m_velomark.Stop(); }

    void StartVelomark() {
        std::string error;
        ASSERT_TRUE(m_velomark.Start({}, error)) << error;
    }
    int CountEvents(const std::string& prefix) const {
        int n = 0;
        for (const std::string& event : m_velomark.Events()) n += event.rfind(prefix, 0) == 0;
        return n;
    }

    FakeVelomark m_velomark{VELOMARK_PROGRAM_PATH, {"--headless"}, SIGTERM};
};

}  // namespace velomark::testing
