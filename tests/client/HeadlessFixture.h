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
#include "tests/sources/UnattendedChart.h"

namespace velomark::testing {

class HeadlessTest : public ClientTestFixture {
protected:
    void SetUp() override {
        ClientTestFixture::SetUp();
        const std::string config = Folder() + "/config";
        std::filesystem::create_directories(config);
        SetUnattendedChart(config);
    }
    void TearDown() override {
        ClientTestFixture::TearDown();
        ClearUnattendedChart();
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("VELOMARK_DSM");
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
