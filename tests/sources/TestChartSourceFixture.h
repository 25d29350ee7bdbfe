// Drives the real testchart.ds through its DS_Entry, as the DSM forwards an
// application's triplets, with a MessageWindow as the application's window.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "platform/Window.h"
#include "twain/TwainTypes.h"

class TestChartSourceTest : public ::testing::Test {
protected:
    static constexpr TW_UINT32 kSourceId = 7;
    static constexpr int kNotifyTimeoutMs = 20000;

    // The library stays loaded for the whole suite, as the DSM keeps it.
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;     // clears the VELOMARK_* variables, notes the live blocks
    void TearDown() override;  // closes the source; every block must be freed by then

    static DSENTRYPROC Entry() { return s_entry; }
    static void LoadLibrary();
    static void UnloadLibrary();

    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    // DAT_STATUS: the condition of the last failure, which reading clears.
    TW_UINT16 Condition();
    TW_UINT16 Open();
    TW_UINT16 Close();
    TW_UINT16 Enable(bool showUi, HWND parent = nullptr);
    TW_UINT16 Disable();

    // CAP_XFERCOUNT and the other one-value capabilities.
    TW_UINT16 SetOneValue(TW_UINT16 capability, TW_UINT16 itemType, TW_UINT32 item);
    // MSG_GET or MSG_GETCURRENT; checks the container and frees it. -999 on failure.
    int GetOneValue(TW_UINT16 capability, TW_UINT16 msg = MSG_GET,
                    TW_UINT16 expectedType = TWTY_INT16);

    // Waits for the source's next posted message; fails the test when none comes.
    MSG WaitForNotification();
    TW_UINT16 ProcessEvent(const MSG* msg, TW_UINT16* twainMessage);
    TW_UINT16 EndTransfer(int* count);
    TW_UINT16 Transfer(HGLOBAL* page);
    // Waits for the source's next notification, checks that it carries `twainMessage`
    // and that the source claims it as that message.
    void WaitForOwnNotification(TW_UINT16 twainMessage);
    void WaitUntilTransferReady() { WaitForOwnNotification(MSG_XFERREADY); }

    MessageWindow m_window;
    size_t m_liveBlocksAtStart = 0;

private:
    static HMODULE s_library;
    static DSENTRYPROC s_entry;
};
