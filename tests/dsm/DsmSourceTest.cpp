// Opening and closing a source and passing triplets on to it.
#include <cstring>

#include "tests/dsm/DsmFixture.h"
#include "tests/dsm/FakeSourceProbe.h"

namespace {

using DsmSourceTest = DsmFixture;

TEST_F(DsmSourceTest, AZeroedIdentityOpensTheDefaultSource) {
    SetEnv("VELOMARK_DEFAULT_SOURCE", "Fake Scanner B");
    OpenDsm();
    const TW_IDENTITY listed = Listed("Fake Scanner B");
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &identity), TWRC_SUCCESS);
    EXPECT_EQ(std::memcmp(&identity, &listed, sizeof(identity)), 0);

    // The twin library is told which of its two sources is meant, Id assigned.
    FakeSourceProbe twin(FakeSource("10-fake-twin.ds"));
    const std::vector<FakeSourceCall> calls = twin.SessionCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].origin, &m_app);
    EXPECT_EQ(calls[0].dg, DG_CONTROL);
    EXPECT_EQ(calls[0].dat, DAT_IDENTITY);
    EXPECT_EQ(calls[0].msg, MSG_OPENDS);
    EXPECT_EQ(std::memcmp(&calls[0].identity, &listed, sizeof(listed)), 0);
}

TEST_F(DsmSourceTest, OpeningByNameFillsTheWholeIdentity) {
    OpenDsm();
    const TW_IDENTITY listed = Listed("Fake Single");
    TW_IDENTITY identity{};
    std::strcpy(identity.ProductName, "Fake Single");
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &identity), TWRC_SUCCESS);
    EXPECT_EQ(identity.Id, listed.Id);
    EXPECT_STREQ(identity.Manufacturer, "Single");

    FakeSourceProbe single(FakeSource("20-fake-single.ds"));
    ASSERT_EQ(single.SessionCalls().size(), 1u);
    EXPECT_STREQ(single.SessionCalls()[0].identity.ProductName, "Fake Single");
    // The other library offering that name was never asked to open it.
    FakeSourceProbe late(LateFakeSource("00-fake-late.ds"));
    EXPECT_TRUE(late.SessionCalls().empty());
}

TEST_F(DsmSourceTest, OpeningMatchesTheIdWhenItIsGiven) {
    OpenDsm();
    const TW_IDENTITY a = Listed("Fake Scanner A");
    const TW_IDENTITY b = Listed("Fake Scanner B");

    TW_IDENTITY mismatched = a;
    mismatched.Id = b.Id;
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &mismatched), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);

    TW_IDENTITY byIdOnly{};
    byIdOnly.Id = b.Id;
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &byIdOnly), TWRC_SUCCESS);
    EXPECT_STREQ(byIdOnly.ProductName, "Fake Scanner B");
}

TEST_F(DsmSourceTest, OnlyOneSourceIsOpenAtATime) {
    OpenDsm();
    const TW_IDENTITY a = OpenSource("Fake Scanner A");
    TW_IDENTITY b{};
    std::strcpy(b.ProductName, "Fake Late");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &b), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_MAXCONNECTIONS);
    FakeSourceProbe late(LateFakeSource("00-fake-late.ds"));
    EXPECT_TRUE(late.SessionCalls().empty());

    TW_IDENTITY close = a;
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_CLOSEDS, &close), TWRC_SUCCESS);
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &b), TWRC_SUCCESS);
}

TEST_F(DsmSourceTest, OpeningAnUnknownSourceIsNoDs) {
    OpenDsm();
    TW_IDENTITY identity{};
    std::strcpy(identity.ProductName, "Fake Uninstalled");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &identity), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
    EXPECT_EQ(identity.Id, 0u);
}

TEST_F(DsmSourceTest, ASourceRefusingToOpenGivesItsAnswerAndStaysClosed) {
    OpenDsm();
    ListSources();
    FakeSourceProbe twin(FakeSource("10-fake-twin.ds"));
    twin.SetAnswers(TWRC_FAILURE, TWRC_SUCCESS, TWRC_SUCCESS);
    TW_IDENTITY a{};
    std::strcpy(a.ProductName, "Fake Scanner A");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &a), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_OPERATIONERROR);
    EXPECT_EQ(ToSource(Listed("Fake Scanner A"), DG_CONTROL, DAT_NULL, MSG_NULL, nullptr),
              TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADDEST);

    twin.SetAnswers(TWRC_CANCEL, TWRC_SUCCESS, TWRC_SUCCESS);
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &a), TWRC_CANCEL);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);

    twin.SetAnswers(TWRC_CHECKSTATUS, TWRC_SUCCESS, TWRC_SUCCESS);
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_OPENDS, &a), TWRC_CHECKSTATUS);
    EXPECT_EQ(ToSource(a, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_SUCCESS);
}

TEST_F(DsmSourceTest, TripletsForTheOpenSourceReachItUnchanged) {
    OpenDsm();
    const TW_IDENTITY b = OpenSource("Fake Scanner B");
    FakeSourceProbe twin(FakeSource("10-fake-twin.ds"));
    twin.SetAnswers(TWRC_SUCCESS, TWRC_SUCCESS, TWRC_DATANOTAVAILABLE);
    TW_IMAGEINFO info{};
    TW_IDENTITY dest = b;
    EXPECT_EQ(Call(&m_app, &dest, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_DATANOTAVAILABLE);
    TW_STATUS status{};
    EXPECT_EQ(Call(&m_app, &dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, kFakeSourceCondition);

    const std::vector<FakeSourceCall> calls = twin.SessionCalls();
    ASSERT_EQ(calls.size(), 3u);  // MSG_OPENDS first
    EXPECT_EQ(calls[1].origin, &m_app);
    EXPECT_EQ(calls[1].dg, DG_IMAGE);
    EXPECT_EQ(calls[1].dat, DAT_IMAGEINFO);
    EXPECT_EQ(calls[1].msg, MSG_GET);
    EXPECT_EQ(calls[1].data, &info);
    EXPECT_EQ(calls[2].dat, DAT_STATUS);
    EXPECT_EQ(calls[2].data, &status);
    // What the source answers is not the DSM's condition.
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
}

TEST_F(DsmSourceTest, TripletsForAnyOtherDestinationAreBadDest) {
    OpenDsm();
    TW_IDENTITY unknown{};
    unknown.Id = 987654;
    const TW_IDENTITY b = Listed("Fake Scanner B");
    EXPECT_EQ(ToSource(b, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_FAILURE);  // not open
    EXPECT_EQ(Condition(), TWCC_BADDEST);

    OpenSource("Fake Scanner A");
    for (const TW_IDENTITY& dest : {unknown, b, m_app}) {
        EXPECT_EQ(ToSource(dest, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_BADDEST);
    }
    FakeSourceProbe twin(FakeSource("10-fake-twin.ds"));
    EXPECT_EQ(twin.SessionCalls().size(), 1u);  // only MSG_OPENDS
}

TEST_F(DsmSourceTest, TripletsForASourceBeforeOpeningTheDsmAreSequenceErrors) {
    TW_IDENTITY dest{};
    dest.Id = 2;
    EXPECT_EQ(ToSource(dest, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
}

TEST_F(DsmSourceTest, EachApplicationReachesOnlyItsOwnSource) {
    TW_IDENTITY other = m_app;
    OpenDsm();
    OpenDsm(&other);
    const TW_IDENTITY a = OpenSource("Fake Scanner A");
    TW_IDENTITY dest = a;
    EXPECT_EQ(Call(&other, &dest, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(&other), TWCC_BADDEST);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
}

TEST_F(DsmSourceTest, ClosingASourceThatIsNotOpen) {
    OpenDsm();
    TW_IDENTITY a = Listed("Fake Scanner A");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_CLOSEDS, &a), TWRC_FAILURE);  // nothing open
    EXPECT_EQ(Condition(), TWCC_SEQERROR);

    OpenSource("Fake Scanner A");
    TW_IDENTITY b = Listed("Fake Scanner B");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_CLOSEDS, &b), TWRC_FAILURE);  // another one is open
    EXPECT_EQ(Condition(), TWCC_BADDEST);
    EXPECT_EQ(ToSource(a, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_SUCCESS);  // still open
}

TEST_F(DsmSourceTest, ClosingTheOpenSourceTellsItAndEndsTheConnection) {
    OpenDsm();
    TW_IDENTITY a = OpenSource("Fake Scanner A");
    FakeSourceProbe twin(FakeSource("10-fake-twin.ds"));

    twin.SetAnswers(TWRC_SUCCESS, TWRC_FAILURE, TWRC_SUCCESS);
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_CLOSEDS, &a), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_OPERATIONERROR);
    EXPECT_EQ(ToSource(a, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_SUCCESS);  // still open

    twin.SetAnswers(TWRC_SUCCESS, TWRC_SUCCESS, TWRC_SUCCESS);
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_CLOSEDS, &a), TWRC_SUCCESS);
    const std::vector<FakeSourceCall> calls = twin.SessionCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().msg, MSG_CLOSEDS);
    EXPECT_EQ(calls.back().origin, &m_app);
    EXPECT_EQ(calls.back().identity.Id, a.Id);
    EXPECT_EQ(ToSource(a, DG_CONTROL, DAT_NULL, MSG_NULL, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADDEST);
    OpenSource("Fake Scanner A");  // and it can be opened again
}

TEST_F(DsmSourceTest, ClosingTheDsmClosesTheOpenSourceFirst) {
    OpenDsm();
    const TW_IDENTITY b = OpenSource("Fake Scanner B");
    // The probe keeps the library loaded past MSG_CLOSEDSM so its record can be read.
    FakeSourceProbe twin(FakeSource("10-fake-twin.ds"));
    twin.SetAnswers(TWRC_SUCCESS, TWRC_FAILURE, TWRC_SUCCESS);  // a refusal does not stop it
    CloseDsm();
    const std::vector<FakeSourceCall> calls = twin.SessionCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].msg, MSG_CLOSEDS);
    EXPECT_EQ(calls[1].origin, &m_app);
    EXPECT_EQ(calls[1].identity.Id, b.Id);
}

}  // namespace
