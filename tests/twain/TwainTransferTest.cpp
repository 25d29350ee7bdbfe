// CTwain's acquisition against the scripted DSM: CAP_XFERCOUNT, enabling, the
// event filter and the native transfer loop, call by call.
#include <cstring>
#include <utility>

#include "dib/Dib.h"
#include "tests/twain/TwainTestSupport.h"

using Trace = std::vector<std::string>;

namespace {

TW_UINT16 Refuse(const DsmCall&, TW_MEMREF) { return TWRC_FAILURE; }

TW_CAPABILITY CapabilityOf(const DsmCall& call) {
    TW_CAPABILITY cap;
    std::memcpy(&cap, call.data.data(), sizeof(cap));
    return cap;
}

const Trace kOneImage = {"SRC IMAGE:IMAGEINFO/GET", "SRC IMAGE:IMAGENATIVEXFER/GET",
                         "SRC STATUS/GET", "SRC PENDINGXFERS/ENDXFER"};

Trace Repeat(const Trace& part, int times) {
    Trace all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace

TEST_F(FakeDsmTest, TheCompleteExchangeOfOneAcquisition) {
    OpenDsm();
    ASSERT_TRUE(twain.Acquire(-1));
    twain.FilterMessage(Message(WM_TIMER));
    twain.FilterMessage(Notification());
    EXPECT_TRUE(twain.m_bSourceEnabled);
    dsm.notifyAnswer = MSG_CLOSEDSREQ;
    twain.FilterMessage(Notification());

    Trace expected = {"DSM IDENTITY/GETDEFAULT",    "DSM IDENTITY/OPENDS",    "SRC CAPABILITY/SET",
                      "SRC USERINTERFACE/ENABLEDS", "SRC EVENT/PROCESSEVENT", "SRC STATUS/GET",
                      "SRC EVENT/PROCESSEVENT",     "SRC STATUS/GET"};
    // A native transfer answers TWRC_XFERDONE, so it too is followed by DAT_STATUS.
    Trace images = Repeat(kOneImage, 3);
    expected.insert(expected.end(), images.begin(), images.end());
    expected.insert(expected.end(), {"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET",
                                     "SRC VELOMARK_NOTE/GET", "SRC USERINTERFACE/DISABLEDS", "DSM IDENTITY/CLOSEDS"});
    EXPECT_EQ(dsm.Trace(), expected);

    // Every source call is addressed to the opened source, from the application.
    for (const auto& call : dsm.calls) {
        EXPECT_EQ(call.originId, twain.m_AppId.Id);
        if (call.toSource) {
            EXPECT_EQ(call.destId, dsm.sourceId) << ScriptedDsm::Name(call);
        }
    }
    // The three images reached the callback live, and were freed afterwards.
    ASSERT_EQ(twain.received.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(twain.received[i].handle, dsm.handedOut[i]);
        EXPECT_GT(twain.received[i].blockSize, 0u);
        EXPECT_EQ(GlobalSize(dsm.handedOut[i]), 0u) << "image " << i << " not freed";
        EXPECT_EQ(twain.received[i].info.ImageWidth, 4);
    }
    EXPECT_TRUE(twain.IsDsmOpen());
    EXPECT_FALSE(twain.IsSourceOpen());
}

TEST_F(FakeDsmTest, AcquireWithMinusOneSendsItemTypeOneAndItem65535) {
    OpenDsm();
    const size_t blocks = GlobalLiveBlockCount();
    ASSERT_TRUE(twain.Acquire(-1));
    const DsmCall& set = dsm.calls[2];
    ASSERT_EQ(ScriptedDsm::Name(set), "SRC CAPABILITY/SET");
    const TW_CAPABILITY cap = CapabilityOf(set);
    EXPECT_EQ(cap.Cap, CAP_XFERCOUNT);
    EXPECT_EQ(cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(set.container, (std::vector<BYTE>{1, 0, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(twain.m_nImageCount, -1);
    EXPECT_EQ(GlobalLiveBlockCount(), blocks) << "the container was not freed";

    const DsmCall& enable = dsm.calls[3];
    TW_USERINTERFACE ui;
    std::memcpy(&ui, enable.data.data(), sizeof(ui));
    EXPECT_EQ(ui.ShowUI, 1);
    EXPECT_EQ(static_cast<void*>(ui.hParent), window.Handle());
    EXPECT_FALSE(twain.m_bModalUI);  // the source left ModalUI FALSE
}

TEST_F(FakeDsmTest, CheckStatusOnTheCountTakesTheSourcesValue) {
    OpenDsm();
    bool first = true;
    dsm.On(DAT_CAPABILITY, MSG_SET, [&](const DsmCall&, TW_MEMREF) {
        const TW_UINT16 rc = first ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
        first = false;
        return rc;
    });
    dsm.pendingImages = 5;  // what the scripted source reports for MSG_GET
    const size_t blocks = GlobalLiveBlockCount();
    ASSERT_TRUE(twain.Acquire(-1));
    EXPECT_EQ(dsm.TraceWithoutStatus(),
              (Trace{"DSM IDENTITY/GETDEFAULT", "DSM IDENTITY/OPENDS", "SRC CAPABILITY/SET",
                     "SRC CAPABILITY/GET", "SRC CAPABILITY/SET", "SRC USERINTERFACE/ENABLEDS"}));
    const DsmCall& get = dsm.calls[4];
    ASSERT_EQ(ScriptedDsm::Name(get), "SRC CAPABILITY/GET");
    const TW_CAPABILITY asked = CapabilityOf(get);
    EXPECT_EQ(asked.Cap, CAP_XFERCOUNT);
    EXPECT_EQ(asked.ConType, TWON_DONTCARE16);
    EXPECT_EQ(static_cast<void*>(asked.hContainer), nullptr);
    EXPECT_EQ(dsm.calls[5].container, (std::vector<BYTE>{4, 0, 5, 0, 0, 0}));
    EXPECT_EQ(twain.m_nImageCount, 5);
    EXPECT_EQ(GlobalLiveBlockCount(), blocks) << "a container was not freed";
}

TEST_F(FakeDsmTest, CountRefusedAfterCheckStatusFailsTheAcquisition) {
    OpenDsm();
    dsm.On(DAT_CAPABILITY, MSG_SET, [](const DsmCall&, TW_MEMREF) { return TWRC_CHECKSTATUS; });
    dsm.On(DAT_CAPABILITY, MSG_GET, Refuse);
    EXPECT_FALSE(twain.Acquire(-1));
    EXPECT_EQ(dsm.TraceWithoutStatus().back(), "SRC CAPABILITY/GET");
    EXPECT_EQ(twain.m_nImageCount, -1);
    EXPECT_TRUE(twain.IsSourceOpen());  // an opened source stays open
    EXPECT_FALSE(twain.m_bSourceEnabled);
}

TEST_F(FakeDsmTest, AShortCountContainerIsNotRead) {
    OpenDsm();
    dsm.On(DAT_CAPABILITY, MSG_SET, [](const DsmCall&, TW_MEMREF) { return TWRC_CHECKSTATUS; });
    dsm.On(DAT_CAPABILITY, MSG_GET, [](const DsmCall&, TW_MEMREF data) {
        static_cast<TW_CAPABILITY*>(data)->hContainer = GlobalAlloc(GHND, 3);
        return TWRC_SUCCESS;
    });
    const size_t blocks = GlobalLiveBlockCount();
    EXPECT_FALSE(twain.Acquire(-1));
    EXPECT_EQ(GlobalLiveBlockCount(), blocks);
}

TEST_F(FakeDsmTest, RefusedEnableReportsModalAndSecondAcquireSendsNoEnable) {
    OpenDsm();
    dsm.On(DAT_USERINTERFACE, MSG_ENABLEDS, [](const DsmCall&, TW_MEMREF data) {
        static_cast<TW_USERINTERFACE*>(data)->ModalUI = 0;
        return TWRC_CHECKSTATUS;
    });
    EXPECT_FALSE(twain.Acquire(-1));
    EXPECT_TRUE(twain.m_bModalUI);
    EXPECT_FALSE(twain.m_bSourceEnabled);

    dsm.On(DAT_USERINTERFACE, MSG_ENABLEDS, [](const DsmCall&, TW_MEMREF) { return TWRC_SUCCESS; });
    ASSERT_TRUE(twain.Acquire(-1));
    dsm.calls.clear();
    EXPECT_FALSE(twain.Acquire(-1));
    EXPECT_EQ(dsm.Trace(), Trace{"SRC CAPABILITY/SET"});
}

TEST_F(FakeDsmTest, NoSourceEnabledMeansNoCallPerMessage) {
    OpenDsm();
    twain.FilterMessage(Notification());
    twain.FilterMessage(Message(WM_TIMER));
    EXPECT_TRUE(dsm.calls.empty());
}

TEST_F(FakeDsmTest, UnclaimedMessagesAndOtherSourceMessagesDoNothing) {
    Enable();
    twain.FilterMessage(Message(WM_TIMER));
    for (TW_UINT16 answer : {MSG_NULL, MSG_CLOSEDSOK, MSG_DEVICEEVENT}) {
        dsm.notifyAnswer = answer;
        twain.FilterMessage(Notification());
    }
    EXPECT_EQ(dsm.Trace(), Repeat({"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET"}, 4));
    // The filter passes the address of its own copy, never the caller's message.
    TW_EVENT event;
    std::memcpy(&event, dsm.calls[0].data.data(), sizeof(event));
    EXPECT_EQ(event.TWMessage, MSG_NULL);
    EXPECT_NE(static_cast<void*>(event.pEvent), nullptr);
    EXPECT_TRUE(twain.m_bSourceEnabled);
    EXPECT_TRUE(twain.received.empty());
}

TEST_F(FakeDsmTest, CountFFFFMeansMoreImages) {
    Enable();
    int ends = 0;
    dsm.On(DAT_PENDINGXFERS, MSG_ENDXFER, [&](const DsmCall&, TW_MEMREF data) {
        static_cast<TW_PENDINGXFERS*>(data)->Count = ++ends < 3 ? 0xFFFF : 0;
        return TWRC_SUCCESS;
    });
    twain.FilterMessage(Notification());
    EXPECT_EQ(twain.received.size(), 3u);
}

TEST_F(FakeDsmTest, BatchPositionFollowsTheAskedAndThePendingCounts) {
    Enable();
    twain.m_nImageCount = 3;
    const TW_UINT16 counts[] = {0xFFFF, 1, 0};
    int ends = 0;
    dsm.On(DAT_PENDINGXFERS, MSG_ENDXFER, [&](const DsmCall&, TW_MEMREF data) {
        static_cast<TW_PENDINGXFERS*>(data)->Count = counts[ends++];
        return TWRC_SUCCESS;
    });
    std::vector<std::pair<int, int>> seen;
    twain.onImage = [&](HGLOBAL, const TW_IMAGEINFO&) {
        seen.emplace_back(twain.BatchPage(), twain.BatchSize());
    };
    twain.FilterMessage(Notification());
    // The asked count, then unknown (0xFFFF), then one pending after the second.
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 3}, {2, -1}, {3, 3}}));
}

TEST_F(FakeDsmTest, SkippedImageIsEndedWithoutATransfer) {
    Enable();
    int asked = 0;
    twain.verdict = [&](const TW_IMAGEINFO&) {
        return ++asked == 2 ? VerdictSkip : VerdictTransfer;
    };
    twain.FilterMessage(Notification());
    Trace expected = {"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET"};
    expected.insert(expected.end(), kOneImage.begin(), kOneImage.end());
    expected.insert(expected.end(), {"SRC IMAGE:IMAGEINFO/GET", "SRC PENDINGXFERS/ENDXFER"});
    expected.insert(expected.end(), kOneImage.begin(), kOneImage.end());
    EXPECT_EQ(dsm.Trace(), expected);
    EXPECT_EQ(twain.received.size(), 2u);
}

TEST_F(FakeDsmTest, CancelAllResetsOnceAndLeavesTheLoop) {
    Enable();
    twain.verdict = [](const TW_IMAGEINFO&) { return VerdictCancelAll; };
    twain.FilterMessage(Notification());
    EXPECT_EQ(dsm.Trace(), (Trace{"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET",
                                  "SRC IMAGE:IMAGEINFO/GET", "SRC PENDINGXFERS/RESET"}));
    EXPECT_TRUE(twain.m_bSourceEnabled);
}

TEST_F(FakeDsmTest, ImageInfoIsAskedAgainButNotForEver) {
    Enable();
    int failures = 1;
    dsm.On(DAT_IMAGEINFO, MSG_GET, [&](const DsmCall&, TW_MEMREF data) {
        if (failures-- > 0) return TWRC_FAILURE;
        *static_cast<TW_IMAGEINFO*>(data) = TW_IMAGEINFO{};
        return TWRC_SUCCESS;
    });
    dsm.pendingImages = 1;
    twain.FilterMessage(Notification());
    EXPECT_EQ(twain.received.size(), 1u) << "one failed description is asked again";

    dsm.calls.clear();
    dsm.pendingImages = 2;
    failures = 1000;
    twain.FilterMessage(Notification());
    Trace expected = {"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET"};
    Trace attempts =
        Repeat({"SRC IMAGE:IMAGEINFO/GET", "SRC STATUS/GET"}, CTwain::kImageInfoAttempts);
    expected.insert(expected.end(), attempts.begin(), attempts.end());
    expected.push_back("SRC PENDINGXFERS/RESET");
    EXPECT_EQ(dsm.Trace(), expected);
    EXPECT_EQ(dsm.pendingImages, 0);
    EXPECT_TRUE(twain.m_bSourceEnabled);
}

TEST_F(FakeDsmTest, UnknownVerdictAsksAgainButNotForEver) {
    Enable();
    twain.verdict = [](const TW_IMAGEINFO&) { return static_cast<TransferVerdict>(7); };
    twain.FilterMessage(Notification());
    Trace expected = {"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET"};
    Trace attempts = Repeat({"SRC IMAGE:IMAGEINFO/GET"}, CTwain::kImageInfoAttempts);
    expected.insert(expected.end(), attempts.begin(), attempts.end());
    expected.push_back("SRC PENDINGXFERS/RESET");
    EXPECT_EQ(dsm.Trace(), expected);
}

TEST_F(FakeDsmTest, FailedNativeTransferResetsAndKeepsTheSourceEnabled) {
    Enable();
    dsm.On(DAT_IMAGENATIVEXFER, MSG_GET, Refuse);
    twain.FilterMessage(Notification());
    EXPECT_EQ(dsm.Trace(),
              (Trace{"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET", "SRC IMAGE:IMAGEINFO/GET",
                     "SRC IMAGE:IMAGENATIVEXFER/GET", "SRC STATUS/GET", "SRC PENDINGXFERS/RESET"}));
    EXPECT_TRUE(twain.received.empty());
    EXPECT_TRUE(twain.m_bSourceEnabled);
}

TEST_F(FakeDsmTest, CancelledTransferFreesTheHandleAndGoesOn) {
    Enable();
    std::vector<HGLOBAL> given;
    int transfers = 0;
    dsm.On(DAT_IMAGENATIVEXFER, MSG_GET, [&](const DsmCall&, TW_MEMREF data) {
        HGLOBAL h = MakePackedDib(2, 2, 9);
        given.push_back(h);
        *static_cast<HGLOBAL*>(data) = h;
        return ++transfers == 1 ? TWRC_CANCEL : TWRC_XFERDONE;
    });
    twain.FilterMessage(Notification());
    ASSERT_EQ(given.size(), 3u);
    EXPECT_EQ(twain.received.size(), 2u);
    EXPECT_NE(twain.received[0].handle, given[0]);
    for (HGLOBAL h : given) EXPECT_EQ(GlobalSize(h), 0u);
}

TEST_F(FakeDsmTest, FailedEndTransferEndsTheLoop) {
    Enable();
    dsm.On(DAT_PENDINGXFERS, MSG_ENDXFER, Refuse);
    twain.FilterMessage(Notification());
    EXPECT_EQ(twain.received.size(), 1u);
    EXPECT_EQ(dsm.Trace().back(), "SRC STATUS/GET");
}

TEST_F(FakeDsmTest, BadImagesFromTheSourceAreHandledWithoutLeaks) {
    Enable();
    const size_t blocks = GlobalLiveBlockCount();
    int transfer = 0;
    dsm.On(DAT_IMAGENATIVEXFER, MSG_GET, [&](const DsmCall&, TW_MEMREF data) {
        ++transfer;
        HGLOBAL h = nullptr;
        if (transfer == 2) {
            // A header that promises 100 x 100 pixels in a block of 60 bytes.
            h = GlobalAlloc(GHND, 60);
            BITMAPINFOHEADER header{};
            header.biSize = 40;
            header.biWidth = header.biHeight = 100;
            header.biPlanes = 1;
            header.biBitCount = 24;
            std::memcpy(GlobalLock(h), &header, sizeof(header));
            GlobalUnlock(h);
        } else if (transfer == 3) {
            h = MakePackedDib(3, 3, 1);
        }
        *static_cast<HGLOBAL*>(data) = h;  // the first transfer is done without an image
        return TWRC_XFERDONE;
    });
    std::vector<BOOL> loaded;
    twain.onImage = [&](HGLOBAL h, const TW_IMAGEINFO&) {
        CDIB dib;
        loaded.push_back(dib.CreateFromHandle(h, 24));
    };
    twain.FilterMessage(Notification());
    EXPECT_EQ(loaded, (std::vector<BOOL>{FALSE, TRUE}));
    EXPECT_EQ(GlobalLiveBlockCount(), blocks);
    EXPECT_TRUE(twain.m_bSourceEnabled);
}

TEST_F(FakeDsmTest, CloseRequestHonouredThenTheNextAcquireReopens) {
    Enable();
    dsm.notifyAnswer = MSG_CLOSEDSREQ;
    twain.FilterMessage(Notification());
    EXPECT_EQ(twain.closeQuestions, 1);
    EXPECT_EQ(dsm.Trace(), (Trace{"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET",
                                  "SRC VELOMARK_NOTE/GET", "SRC USERINTERFACE/DISABLEDS", "DSM IDENTITY/CLOSEDS"}));
    EXPECT_TRUE(twain.IsDsmOpen());
    dsm.calls.clear();
    ASSERT_TRUE(twain.Acquire(-1));
    EXPECT_EQ(dsm.Trace(),
              (Trace{"DSM IDENTITY/OPENDS", "SRC CAPABILITY/SET", "SRC USERINTERFACE/ENABLEDS"}));
}

TEST_F(FakeDsmTest, CloseRequestRefusedByTheHookSendsNothing) {
    Enable();
    twain.canClose = FALSE;
    dsm.notifyAnswer = MSG_CLOSEDSREQ;
    twain.FilterMessage(Notification());
    EXPECT_EQ(twain.closeQuestions, 1);
    EXPECT_EQ(dsm.Trace(), (Trace{"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET"}));
    EXPECT_TRUE(twain.m_bSourceEnabled);
    EXPECT_TRUE(twain.IsSourceOpen());
}

TEST_F(FakeDsmTest, WithoutItsWindowTheSourceIsClosedAfterItsBatch) {
    setenv("VELOMARK_SOURCE_UI", "0", 1);
    Enable();
    unsetenv("VELOMARK_SOURCE_UI");
    twain.FilterMessage(Notification());
    Trace expected = {"SRC EVENT/PROCESSEVENT", "SRC STATUS/GET"};
    Trace images = Repeat(kOneImage, 3);
    expected.insert(expected.end(), images.begin(), images.end());
    // No MSG_CLOSEDSREQ comes in this mode: the batch's end closes the source.
    expected.insert(expected.end(), {"SRC VELOMARK_NOTE/GET", "SRC USERINTERFACE/DISABLEDS", "DSM IDENTITY/CLOSEDS"});
    EXPECT_EQ(dsm.Trace(), expected);
    EXPECT_FALSE(twain.IsSourceOpen());

    dsm.calls.clear();
    ASSERT_TRUE(twain.Acquire(-1));
    ASSERT_EQ(dsm.calls.size(), 3u);
    TW_USERINTERFACE ui;
    std::memcpy(&ui, dsm.calls[2].data.data(), sizeof(ui));
    EXPECT_EQ(ui.ShowUI, 1) << "without the variable the source's window is asked for";
}
