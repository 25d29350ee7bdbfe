// Opening and closing the DSM, Ids, sequence errors and the condition codes
// that DAT_STATUS reports.
#include <cstring>

#include "tests/dsm/DsmFixture.h"

namespace {

using DsmSessionTest = DsmFixture;

TEST_F(DsmSessionTest, OpenAssignsNonZeroIdsUniqueAcrossApplicationsAndSources) {
    TW_IDENTITY second = m_app;
    OpenDsm();
    OpenDsm(&second);
    EXPECT_NE(m_app.Id, 0u);
    EXPECT_NE(second.Id, 0u);
    EXPECT_NE(m_app.Id, second.Id);
    for (const TW_IDENTITY& source : ListSources()) {
        EXPECT_NE(source.Id, 0u);
        EXPECT_NE(source.Id, m_app.Id);
        EXPECT_NE(source.Id, second.Id);
    }

    // A reopening is a new open with a new Id.
    const TW_UINT32 firstId = m_app.Id;
    CloseDsm();
    OpenDsm();
    EXPECT_NE(m_app.Id, firstId);
    EXPECT_NE(m_app.Id, second.Id);
}

TEST_F(DsmSessionTest, OpeningTwiceIsASequenceErrorAndKeepsTheSession) {
    OpenDsm();
    const TW_UINT32 id = m_app.Id;
    EXPECT_EQ(Dsm(DAT_PARENT, MSG_OPENDSM, &m_window), TWRC_FAILURE);
    EXPECT_EQ(m_app.Id, id);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);  // reading it cleared it
    EXPECT_FALSE(ListSources().empty());
}

TEST_F(DsmSessionTest, ClosingWhenNotOpenIsASequenceError) {
    EXPECT_EQ(Dsm(DAT_PARENT, MSG_CLOSEDSM, &m_window), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);

    OpenDsm();
    CloseDsm();
    EXPECT_EQ(Dsm(DAT_PARENT, MSG_CLOSEDSM, &m_window), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
}

TEST_F(DsmSessionTest, OpenRefusesMissingArguments) {
    EXPECT_EQ(Dsm(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_FAILURE);
    EXPECT_EQ(m_app.Id, 0u);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);

    EXPECT_EQ(Call(nullptr, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &m_window), TWRC_FAILURE);
    EXPECT_EQ(Call(nullptr, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
    // Nothing was opened by any of these calls.
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
}

TEST_F(DsmSessionTest, IdentityTripletsBeforeOpeningAreSequenceErrors) {
    for (TW_UINT16 msg :
         {MSG_GETDEFAULT, MSG_USERSELECT, MSG_GETFIRST, MSG_GETNEXT, MSG_OPENDS, MSG_CLOSEDS}) {
        TW_IDENTITY identity{};
        std::strcpy(identity.ProductName, "Fake Scanner A");
        EXPECT_EQ(Dsm(DAT_IDENTITY, msg, &identity), TWRC_FAILURE) << msg;
        EXPECT_EQ(Condition(), TWCC_SEQERROR) << msg;
        EXPECT_EQ(Condition(), TWCC_SUCCESS) << msg;
    }
}

TEST_F(DsmSessionTest, AfterClosingTheSessionIsGone) {
    OpenDsm();
    const TW_IDENTITY source = Listed("Fake Scanner A");
    CloseDsm();
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_IDENTITY wanted = source;
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &wanted), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
}

TEST_F(DsmSessionTest, UnknownTripletsAreBadProtocolBeforeAndAfterOpening) {
    TW_IDENTITY identity{};
    struct Triplet {
        TW_UINT32 dg;
        TW_UINT16 dat;
        TW_UINT16 msg;
    };
    const Triplet unknown[] = {
        {DG_IMAGE, DAT_IDENTITY, MSG_GETFIRST},   {DG_CONTROL, DAT_IDENTITY, MSG_GET},
        {DG_CONTROL, DAT_PARENT, MSG_GET},        {DG_CONTROL, DAT_STATUS, MSG_SET},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET},    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET},
    };
    for (bool open : {false, true}) {
        if (open) OpenDsm();
        for (const Triplet& t : unknown) {
            EXPECT_EQ(Call(&m_app, nullptr, t.dg, t.dat, t.msg, &identity), TWRC_FAILURE)
                << t.dg << "/" << t.dat << "/" << t.msg;
            EXPECT_EQ(Condition(), TWCC_BADPROTOCOL) << t.dg << "/" << t.dat << "/" << t.msg;
        }
    }
}

TEST_F(DsmSessionTest, IdentityTripletsWithoutDataAreBadValues) {
    OpenDsm();
    for (TW_UINT16 msg :
         {MSG_GETDEFAULT, MSG_USERSELECT, MSG_GETFIRST, MSG_GETNEXT, MSG_OPENDS, MSG_CLOSEDS}) {
        EXPECT_EQ(Dsm(DAT_IDENTITY, msg, nullptr), TWRC_FAILURE) << msg;
        EXPECT_EQ(Condition(), TWCC_BADVALUE) << msg;
    }
    EXPECT_EQ(Dsm(DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
}

TEST_F(DsmSessionTest, ConditionIsThatOfTheLastTripletTheDsmAnswered) {
    OpenDsm();
    TW_IDENTITY missing{};
    std::strcpy(missing.ProductName, "No Such Source");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &missing), TWRC_FAILURE);
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_SUCCESS);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
}

TEST_F(DsmSessionTest, ConditionsAreKeptPerApplication) {
    TW_IDENTITY other = m_app;
    OpenDsm();
    OpenDsm(&other);
    TW_IDENTITY missing{};
    std::strcpy(missing.ProductName, "No Such Source");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &missing), TWRC_FAILURE);
    EXPECT_EQ(Dsm(DAT_PARENT, MSG_OPENDSM, &m_window, &other), TWRC_FAILURE);

    EXPECT_EQ(Condition(), TWCC_NODS);
    EXPECT_EQ(Condition(&other), TWCC_SEQERROR);
    EXPECT_EQ(Condition(&other), TWCC_SUCCESS);
}

}  // namespace
