// A CTwain for tests: its state readable, its hooks scriptable, and every image
// it receives checked while the handle is still live.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Window.h"
#include "tests/twain/ScriptedDsm.h"
#include "twain/Twain.h"

class TestTwain : public CTwain {
public:
    using CTwain::BatchPage;
    using CTwain::BatchSize;
    using CTwain::m_AppId;
    using CTwain::m_bDsmOpen;
    using CTwain::m_bModalUI;
    using CTwain::m_bSourceEnabled;
    using CTwain::m_bSourceOpen;
    using CTwain::m_bSourceSelected;
    using CTwain::m_hDsmLibrary;
    using CTwain::m_hParentWnd;
    using CTwain::m_nImageCount;
    using CTwain::m_nReturnCode;
    using CTwain::m_pDsmEntry;
    using CTwain::m_Source;
    using CTwain::m_Status;

    struct Received {
        HGLOBAL handle;
        size_t blockSize;  // GlobalSize during the call: 0 if the block was not live
        TW_IMAGEINFO info;
    };
    std::vector<Received> received;
    std::function<void(HGLOBAL, const TW_IMAGEINFO&)> onImage;
    std::function<TransferVerdict(const TW_IMAGEINFO&)> verdict;
    BOOL canClose = TRUE;
    int closeQuestions = 0;

    ~TestTwain() override { ReleaseTwain(); }

    void ReceiveImage(HGLOBAL hImage, const TW_IMAGEINFO& info) override {
        received.push_back({hImage, GlobalSize(hImage), info});
        if (onImage) onImage(hImage, info);
    }
    TransferVerdict ApproveTransfer(const TW_IMAGEINFO& info) override {
        return verdict ? verdict(info) : CTwain::ApproveTransfer(info);
    }
    BOOL CanCloseSource() override {
        ++closeQuestions;
        return canClose;
    }
};

// Points VELOMARK_DSM at a library for the life of the object.
class ScopedDsmPath {
public:
    explicit ScopedDsmPath(const char* path) { setenv("VELOMARK_DSM", path, 1); }
    ~ScopedDsmPath() { unsetenv("VELOMARK_DSM"); }
};

// A test with the fake DSM installed and a live parent window.
class FakeDsmTest : public ::testing::Test {
protected:
    FakeDsmTest() : m_path(FAKE_DSM_PATH), dsm(FAKE_DSM_PATH) {}

    // Loads and opens the DSM, then forgets the calls that took.
    void OpenDsm() {
        ASSERT_TRUE(twain.InitTwain(window.Handle()));
        ASSERT_TRUE(twain.IsDsmOpen());
        dsm.calls.clear();
    }
    // Opens the DSM, acquires with -1 and forgets the calls that took.
    void Enable() {
        OpenDsm();
        ASSERT_TRUE(twain.Acquire(-1));
        dsm.calls.clear();
    }
    MSG Message(UINT number) { return MSG{window.Handle(), number, 0, 0, MessageTime(), {0, 0}}; }
    MSG Notification() { return Message(dsm.notifyMessage); }

    ScopedDsmPath m_path;
    MessageWindow window;
    ScriptedDsm dsm;
    TestTwain twain;
};
