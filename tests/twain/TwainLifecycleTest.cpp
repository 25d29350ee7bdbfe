// CTwain against the scripted DSM: loading, opening, selecting, opening and
// closing sources, and the condition-code follow-ups.
#include <cstring>

#include "tests/twain/TwainTestSupport.h"

using Trace = std::vector<std::string>;

namespace {

std::string Text(const TW_STR32& field) { return std::string(field, strnlen(field, 34)); }

bool IsZero(const std::vector<BYTE>& bytes) {
    for (BYTE b : bytes)
        if (b) return false;
    return true;
}

TW_UINT16 Refuse(const DsmCall&, TW_MEMREF) { return TWRC_FAILURE; }

}  // namespace

TEST(TwainLoading, MissingLibraryOrEntryPointLeavesNothingLoaded) {
    MessageWindow window;
    for (const char* path : {"/nonexistent/libvelomark-dsm.so", FAKE_DSM_NOENTRY_PATH}) {
        SCOPED_TRACE(path);
        ScopedDsmPath dsmPath(path);
        TestTwain twain;
        EXPECT_FALSE(twain.InitTwain(window.Handle()));
        EXPECT_FALSE(twain.IsDsmLoaded());
        EXPECT_EQ(twain.m_hDsmLibrary, nullptr);
        EXPECT_EQ(twain.m_pDsmEntry, nullptr);
        // Every later operation stops at its guard and says why.
        EXPECT_FALSE(twain.SelectSource());
        EXPECT_EQ(twain.m_nReturnCode, TWRC_FAILURE);
        EXPECT_FALSE(twain.OpenSource());
        EXPECT_FALSE(twain.Acquire(-1));
        twain.m_nReturnCode = TWRC_SUCCESS;
        EXPECT_FALSE(twain.CallDsm(&twain.m_AppId, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET,
                                   &twain.m_Status));
        EXPECT_EQ(twain.m_nReturnCode, TWRC_FAILURE);
    }
}

TEST_F(FakeDsmTest, InitOpensTheDsmWithTheApplicationIdentity) {
    ASSERT_TRUE(twain.InitTwain(window.Handle()));
    ASSERT_EQ(dsm.Trace(), Trace{"DSM PARENT/OPENDSM"});
    EXPECT_EQ(dsm.calls[0].pData, &twain.m_hParentWnd);
    HWND passed;
    std::memcpy(&passed, dsm.calls[0].data.data(), sizeof(passed));
    EXPECT_EQ(passed, window.Handle());
    EXPECT_TRUE(twain.IsDsmOpen());

    const TW_IDENTITY& id = twain.m_AppId;
    EXPECT_EQ(id.Id, 0u);
    EXPECT_EQ(id.Version.MajorNum, 3);
    EXPECT_EQ(id.Version.MinorNum, 5);
    EXPECT_EQ(id.Version.Language, TWLG_USA);
    EXPECT_EQ(id.Version.Country, TWCY_USA);
    EXPECT_EQ(Text(id.Version.Info), "3.5");
    EXPECT_EQ(id.ProtocolMajor, 1);
    EXPECT_EQ(id.ProtocolMinor, 9);
    EXPECT_EQ(TW_UINT32{id.SupportedGroups}, DG_CONTROL | DG_IMAGE | DF_APP2);
    EXPECT_EQ(Text(id.Manufacturer), "QUELM");
    EXPECT_EQ(Text(id.ProductFamily), "Generic");
    EXPECT_EQ(Text(id.ProductName), "Scan Probe");
    // Every byte after each string is zero.
    for (const TW_STR32* field : {&id.Version.Info, &id.Manufacturer, &id.ProductName}) {
        const size_t len = strnlen(*field, 34);
        for (size_t i = len; i < 34; ++i) EXPECT_EQ((*field)[i], 0) << i;
    }
}

TEST_F(FakeDsmTest, SecondInitSendsNothingAndKeepsTheFirstWindow) {
    OpenDsm();
    MessageWindow other;
    EXPECT_TRUE(twain.InitTwain(other.Handle()));
    EXPECT_TRUE(dsm.calls.empty());
    EXPECT_EQ(twain.m_hParentWnd, window.Handle());
}

TEST_F(FakeDsmTest, InitWithADeadWindowLoadsNothing) {
    HWND dead;
    {
        MessageWindow gone;
        dead = gone.Handle();
    }
    std::memset(&twain.m_AppId, 0xAB, sizeof(twain.m_AppId));
    EXPECT_FALSE(twain.InitTwain(dead));
    EXPECT_FALSE(twain.IsDsmLoaded());
    EXPECT_TRUE(dsm.calls.empty());
    EXPECT_EQ(twain.m_AppId.Id, 0u);
    EXPECT_EQ(twain.m_AppId.ProductName[0], 0);
}

TEST_F(FakeDsmTest, RefusedOpenDsmKeepsTheLibraryLoaded) {
    dsm.On(DAT_PARENT, MSG_OPENDSM, Refuse);
    dsm.SetCondition(TWCC_BUMMER);
    EXPECT_TRUE(twain.InitTwain(window.Handle()));
    EXPECT_EQ(dsm.Trace(), (Trace{"DSM PARENT/OPENDSM", "DSM STATUS/GET"}));
    EXPECT_EQ(twain.m_Status.ConditionCode, TWCC_BUMMER);
    EXPECT_TRUE(twain.IsDsmLoaded());
    EXPECT_FALSE(twain.IsDsmOpen());

    // OpenSource stops without a call; SelectSource still asks and fails.
    dsm.calls.clear();
    dsm.On(DAT_IDENTITY, MSG_GETDEFAULT, Refuse);
    dsm.On(DAT_IDENTITY, MSG_USERSELECT, Refuse);
    EXPECT_FALSE(twain.OpenSource());
    EXPECT_TRUE(dsm.calls.empty());
    EXPECT_FALSE(twain.SelectSource());
    EXPECT_EQ(dsm.Trace(), (Trace{"DSM IDENTITY/GETDEFAULT", "DSM STATUS/GET",
                                  "DSM IDENTITY/USERSELECT", "DSM STATUS/GET"}));
}

TEST_F(FakeDsmTest, CallDsmKeepsTheFirstCodeAndFetchesTheCondition) {
    OpenDsm();
    dsm.On(DAT_IDENTITY, MSG_OPENDS, [](const DsmCall&, TW_MEMREF) { return TWRC_CHECKSTATUS; });
    dsm.SetCondition(TWCC_NODS);
    EXPECT_FALSE(twain.OpenSource());
    EXPECT_EQ(twain.m_nReturnCode, TWRC_CHECKSTATUS);
    EXPECT_EQ(twain.m_Status.ConditionCode, TWCC_NODS);
    // The follow-up goes to the failed call's destination: here the DSM.
    ASSERT_EQ(dsm.calls.back().dat, DAT_STATUS);
    EXPECT_FALSE(dsm.calls.back().toSource);
    EXPECT_EQ(dsm.calls.back().pData, &twain.m_Status);
}

TEST_F(FakeDsmTest, FirstSelectionAsksForTheDefaultAndKeepsItOnCancel) {
    OpenDsm();
    dsm.On(DAT_IDENTITY, MSG_USERSELECT, [](const DsmCall&, TW_MEMREF) { return TWRC_CANCEL; });
    EXPECT_TRUE(twain.SelectSource());
    EXPECT_EQ(dsm.Trace(),
              (Trace{"DSM IDENTITY/GETDEFAULT", "DSM IDENTITY/USERSELECT", "DSM STATUS/GET"}));
    // The dialog opened on the default source.
    TW_IDENTITY shown;
    std::memcpy(&shown, dsm.calls[1].data.data(), sizeof(shown));
    EXPECT_EQ(Text(shown.ProductName), "Default Scanner");
    EXPECT_TRUE(twain.m_bSourceSelected);
}

TEST_F(FakeDsmTest, LaterSelectionZeroesTheSourceAndSkipsTheDefault) {
    OpenDsm();
    ASSERT_TRUE(twain.SelectSource());
    EXPECT_EQ(Text(twain.m_Source.ProductName), "Chosen Scanner");
    dsm.calls.clear();
    dsm.On(DAT_IDENTITY, MSG_USERSELECT, [](const DsmCall&, TW_MEMREF) { return TWRC_CANCEL; });
    EXPECT_TRUE(twain.SelectSource());
    EXPECT_EQ(dsm.Trace(), (Trace{"DSM IDENTITY/USERSELECT", "DSM STATUS/GET"}));
    EXPECT_TRUE(IsZero(dsm.calls[0].data));
}

TEST_F(FakeDsmTest, CancelledSelectionWithoutADefaultSelectsNothing) {
    OpenDsm();
    dsm.On(DAT_IDENTITY, MSG_GETDEFAULT, Refuse);
    dsm.On(DAT_IDENTITY, MSG_USERSELECT, [](const DsmCall&, TW_MEMREF) { return TWRC_CANCEL; });
    EXPECT_FALSE(twain.SelectSource());
    EXPECT_FALSE(twain.m_bSourceSelected);
    EXPECT_EQ(twain.m_nReturnCode, TWRC_CANCEL);
    // Both follow-ups went to the DSM.
    for (const auto& call : dsm.calls) EXPECT_FALSE(call.toSource) << ScriptedDsm::Name(call);
}

TEST_F(FakeDsmTest, OpenSourceGivenAnIdentityOpensTheDefaultWhenNoneIsSelected) {
    OpenDsm();
    TW_IDENTITY asked = ScriptedDsm::SourceIdentity("Asked For");
    EXPECT_TRUE(twain.OpenSource(&asked));
    ASSERT_EQ(dsm.Trace(), (Trace{"DSM IDENTITY/GETDEFAULT", "DSM IDENTITY/OPENDS"}));
    TW_IDENTITY opened;
    std::memcpy(&opened, dsm.calls[1].data.data(), sizeof(opened));
    EXPECT_EQ(Text(opened.ProductName), "Default Scanner");
    EXPECT_EQ(twain.m_Source.Id, dsm.sourceId);
    EXPECT_TRUE(twain.IsSourceOpen());
}

TEST_F(FakeDsmTest, OpenSourceGivenAnIdentityOpensItOnceASourceIsSelected) {
    OpenDsm();
    ASSERT_TRUE(twain.SelectSource());
    dsm.calls.clear();
    TW_IDENTITY asked = ScriptedDsm::SourceIdentity("Asked For");
    EXPECT_TRUE(twain.OpenSource(&asked));
    ASSERT_EQ(dsm.Trace(), Trace{"DSM IDENTITY/OPENDS"});
    EXPECT_EQ(Text(twain.m_Source.ProductName), "Asked For");
}

TEST_F(FakeDsmTest, OpeningAnOpenSourceAgainAndBeingRefusedClosesTheFlag) {
    OpenDsm();
    ASSERT_TRUE(twain.OpenSource());
    dsm.On(DAT_IDENTITY, MSG_OPENDS, Refuse);
    dsm.calls.clear();
    EXPECT_FALSE(twain.OpenSource());
    EXPECT_EQ(dsm.Trace(), (Trace{"DSM IDENTITY/OPENDS", "DSM STATUS/GET"}));
    EXPECT_FALSE(twain.m_bSourceOpen);
}

TEST_F(FakeDsmTest, ReleaseClosesEverythingOnceAndKeepsTheSelection) {
    Enable();
    const TW_UINT32 appId = twain.m_AppId.Id;
    twain.ReleaseTwain();
    EXPECT_EQ(dsm.Trace(), (Trace{"SRC VELOMARK_NOTE/GET", "SRC USERINTERFACE/DISABLEDS", "DSM IDENTITY/CLOSEDS",
                                  "DSM PARENT/CLOSEDSM"}));
    EXPECT_FALSE(twain.IsDsmLoaded());
    EXPECT_FALSE(twain.m_bDsmOpen);
    EXPECT_FALSE(twain.m_bSourceOpen);
    EXPECT_TRUE(twain.m_bSourceSelected);
    EXPECT_EQ(twain.m_AppId.Id, appId);
    dsm.calls.clear();
    twain.ReleaseTwain();
    EXPECT_TRUE(dsm.calls.empty());
}

TEST_F(FakeDsmTest, ClosingNeverFailsWhateverTheDsmAnswers) {
    Enable();
    dsm.On(DAT_USERINTERFACE, MSG_DISABLEDS, Refuse);
    dsm.On(DAT_IDENTITY, MSG_CLOSEDS, Refuse);
    dsm.On(DAT_PARENT, MSG_CLOSEDSM, Refuse);
    twain.CloseDsm();
    EXPECT_EQ(dsm.TraceWithoutStatus(), (Trace{"SRC VELOMARK_NOTE/GET", "SRC USERINTERFACE/DISABLEDS",
                                               "DSM IDENTITY/CLOSEDS", "DSM PARENT/CLOSEDSM"}));
    // The closes clear their flags; the source is closed, so no longer enabled either.
    EXPECT_FALSE(twain.m_bSourceEnabled);
    EXPECT_FALSE(twain.m_bSourceOpen);
    EXPECT_FALSE(twain.m_bDsmOpen);
    EXPECT_TRUE(twain.IsDsmLoaded());
}

TEST_F(FakeDsmTest, ARefusedDisableKeepsTheSourceEnabledUntilItIsClosed) {
    Enable();
    dsm.On(DAT_USERINTERFACE, MSG_DISABLEDS, Refuse);
    EXPECT_FALSE(twain.DisableSource());
    EXPECT_TRUE(twain.m_bSourceEnabled);

    // Closed on the source's request all the same: the filter goes quiet and the
    // next acquisition enables the source again.
    dsm.notifyAnswer = MSG_CLOSEDSREQ;
    twain.FilterMessage(Notification());
    EXPECT_FALSE(twain.IsSourceOpen());
    dsm.calls.clear();
    twain.FilterMessage(Notification());
    EXPECT_TRUE(dsm.calls.empty());
    EXPECT_TRUE(twain.Acquire(-1));
    EXPECT_TRUE(twain.m_bSourceEnabled);
    EXPECT_EQ(dsm.Trace().back(), "SRC USERINTERFACE/ENABLEDS");
}

TEST_F(FakeDsmTest, TheDestructorReleasesAnOpenSession) {
    const size_t before = GlobalLiveBlockCount();
    {
        TestTwain other;
        ASSERT_TRUE(other.InitTwain(window.Handle()));
        ASSERT_TRUE(other.Acquire(-1));
        dsm.calls.clear();
    }
    EXPECT_EQ(dsm.Trace(), (Trace{"SRC VELOMARK_NOTE/GET", "SRC USERINTERFACE/DISABLEDS", "DSM IDENTITY/CLOSEDS",
                                  "DSM PARENT/CLOSEDSM"}));
    EXPECT_EQ(GlobalLiveBlockCount(), before);
}
