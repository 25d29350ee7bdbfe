// The test-chart source library's answers to DS_Entry: its identity, opening and
// closing sessions, the condition code of its last failure, and every other triplet
// passed to the open session.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>

#include "sources/common/SourceConditions.h"
#include "sources/testchart/TestChartEnvironment.h"
#include "sources/testchart/TestChartUi.h"
#include "twain/TwainTypes.h"

class TestChartSession;

class TestChartSource : private SourceConditions {
public:
    // warnings receives one line for each setting in the environment that is not valid.
    TestChartSource(TestChartUiFactory uiFactory, TestChartEnvironment environment,
                    std::ostream& warnings);
    // Closes a session still open, as unloading the library does.
    ~TestChartSource();
    TestChartSource(const TestChartSource&) = delete;
    TestChartSource& operator=(const TestChartSource&) = delete;

    TW_UINT16 Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

    // The one source this library offers; Id 0, for the DSM to assign.
    static TW_IDENTITY Identity();

private:
    TW_UINT16 IdentityTriplet(TW_UINT16 msg, TW_IDENTITY* identity);

    std::mutex m_mutex;
    TestChartUiFactory m_uiFactory;
    TestChartEnvironment m_environment;
    std::ostream& m_warnings;
    std::unique_ptr<TestChartSession> m_session;
};
