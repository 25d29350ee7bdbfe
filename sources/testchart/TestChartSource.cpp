#include "sources/testchart/TestChartSource.h"

#include <cstring>

#include "sources/testchart/TestChartSession.h"

TestChartSource::TestChartSource(TestChartUiFactory uiFactory, TestChartEnvironment environment,
                                 std::ostream& warnings)
    : m_uiFactory(std::move(uiFactory)),
      m_environment(std::move(environment)),
      m_warnings(warnings) {}

TestChartSource::~TestChartSource() = default;

TW_IDENTITY TestChartSource::Identity() {
    return MakeTwainIdentity(1, 0, "1.0", "Velomark", "Test Chart", "Velomark Test Chart");
}

TW_UINT16 TestChartSource::Entry(pTW_IDENTITY /*origin*/, TW_UINT32 dg, TW_UINT16 dat,
                                 TW_UINT16 msg, TW_MEMREF data) {
    std::lock_guard lock(m_mutex);
    if (dg == DG_CONTROL && dat == DAT_IDENTITY)
        return IdentityTriplet(msg, static_cast<TW_IDENTITY*>(data));
    if (dg == DG_CONTROL && dat == DAT_STATUS) return Status(msg, static_cast<TW_STATUS*>(data));
    return ToSession(m_session.get(), dg, dat, msg, data);
}

TW_UINT16 TestChartSource::IdentityTriplet(TW_UINT16 msg, TW_IDENTITY* identity) {
    if (!identity) return Fail(TWCC_BADVALUE);
    switch (msg) {
        case MSG_GETFIRST:
        case MSG_GET: {
            // The DSM assigns Id; the rest is ours.
            const TW_UINT32 id = identity->Id;
            *identity = Identity();
            identity->Id = id;
            return TWRC_SUCCESS;
        }
        case MSG_GETNEXT: return TWRC_ENDOFLIST;
        case MSG_OPENDS: {
            if (m_session) return Fail(TWCC_MAXCONNECTIONS);
            TW_IDENTITY self = Identity();
            self.Id = identity->Id;
            const TestChartSettings settings = m_environment.Settings(m_warnings);
            m_session = std::make_unique<TestChartSession>(self, settings,
                                                           m_environment.Unattended(), m_uiFactory);
            m_condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        case MSG_CLOSEDS:
            if (!m_session) return Fail(TWCC_SEQERROR);
            m_session.reset();
            return TWRC_SUCCESS;
        default: return Fail(TWCC_BADPROTOCOL);
    }
}
