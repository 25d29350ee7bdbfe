#include "tests/sources/TestChartSourceFixture.h"

#include <cstdlib>
#include <cstring>

#include "twain/DataSource.h"

HMODULE TestChartSourceTest::s_library = nullptr;
DSENTRYPROC TestChartSourceTest::s_entry = nullptr;

void TestChartSourceTest::SetUpTestSuite() { LoadLibrary(); }

void TestChartSourceTest::TearDownTestSuite() { UnloadLibrary(); }

void TestChartSourceTest::LoadLibrary() {
    s_library = LoadLibraryA(VELOMARK_TESTCHART_DS);
    ASSERT_NE(s_library, nullptr) << ModuleLoadError();
    s_entry = reinterpret_cast<DSENTRYPROC>(GetProcAddress(s_library, "DS_Entry"));
    ASSERT_NE(s_entry, nullptr);
}

void TestChartSourceTest::UnloadLibrary() {
    if (s_library) FreeLibrary(s_library);
    s_library = nullptr;
    s_entry = nullptr;
}

void TestChartSourceTest::SetUp() {
    ASSERT_NE(s_entry, nullptr);
    for (const char* name :
         {"VELOMARK_TESTCHART_TYPE", "VELOMARK_TESTCHART_DPI", "VELOMARK_TESTCHART_SIZE",
          "VELOMARK_TESTCHART_PAGES", "VELOMARK_UNATTENDED"})
        unsetenv(name);
    m_liveBlocksAtStart = GlobalLiveBlockCount();
}

void TestChartSourceTest::TearDown() {
    if (s_entry) {
        TW_IDENTITY source{};
        source.Id = kSourceId;
        s_entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
        Condition();  // the close above fails when the test closed the source itself
    }
    EXPECT_EQ(GlobalLiveBlockCount(), m_liveBlocksAtStart);
}

TW_UINT16 TestChartSourceTest::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    TW_IDENTITY application{};
    application.Id = 1;
    std::strcpy(application.ProductName, "Source tests");
    return s_entry(&application, dg, dat, msg, data);
}

TW_UINT16 TestChartSourceTest::Condition() {
    TW_STATUS status{0xBEEF, 0xBEEF};
    EXPECT_EQ(s_entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    return status.ConditionCode;
}

TW_UINT16 TestChartSourceTest::Open() {
    TW_IDENTITY source{};
    EXPECT_EQ(s_entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &source), TWRC_SUCCESS);
    source.Id = kSourceId;
    return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
}

TW_UINT16 TestChartSourceTest::Close() {
    TW_IDENTITY source{};
    source.Id = kSourceId;
    return Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
}

TW_UINT16 TestChartSourceTest::Enable(bool showUi, HWND parent) {
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUi ? TRUE : FALSE;
    ui.ModalUI = TRUE;
    ui.hParent = parent ? parent : m_window.Handle();
    const TW_UINT16 result = Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    if (result == TWRC_SUCCESS) {
        EXPECT_EQ(ui.ModalUI, FALSE);
    }
    return result;
}

TW_UINT16 TestChartSourceTest::Disable() {
    TW_USERINTERFACE ui{};
    ui.hParent = m_window.Handle();
    return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

TW_UINT16 TestChartSourceTest::SetOneValue(TW_UINT16 capability, TW_UINT16 itemType,
                                           TW_UINT32 item) {
    HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    const TW_ONEVALUE value{itemType, item};
    std::memcpy(GlobalLock(container), &value, sizeof value);
    GlobalUnlock(container);
    TW_CAPABILITY cap{capability, TWON_ONEVALUE, container};
    const TW_UINT16 result = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    GlobalFree(container);
    return result;
}

int TestChartSourceTest::GetOneValue(TW_UINT16 capability, TW_UINT16 msg, TW_UINT16 expectedType) {
    TW_CAPABILITY cap{capability, TWON_DONTCARE16, nullptr};
    if (Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap) != TWRC_SUCCESS) return -999;
    EXPECT_EQ(cap.ConType, TWON_ONEVALUE);
    HGLOBAL container = static_cast<HGLOBAL>(cap.hContainer);
    EXPECT_EQ(GlobalSize(container), sizeof(TW_ONEVALUE));
    if (GlobalSize(container) < sizeof(TW_ONEVALUE)) return -999;
    TW_ONEVALUE value{};
    std::memcpy(&value, GlobalLock(container), sizeof value);
    GlobalUnlock(container);
    EXPECT_EQ(GlobalFree(container), nullptr);
    EXPECT_EQ(value.ItemType, expectedType);
    if (expectedType == TWTY_INT16) return static_cast<TW_INT16>(value.Item & 0xffff);
    return static_cast<int>(value.Item);
}

MSG TestChartSourceTest::WaitForNotification() {
    MSG msg{};
    EXPECT_TRUE(m_window.Wait(&msg, kNotifyTimeoutMs)) << "the source posted nothing";
    return msg;
}

TW_UINT16 TestChartSourceTest::ProcessEvent(const MSG* msg, TW_UINT16* twainMessage) {
    TW_EVENT event{const_cast<MSG*>(msg), 0xBEEF};
    const TW_UINT16 result = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    *twainMessage = event.TWMessage;
    return result;
}

TW_UINT16 TestChartSourceTest::EndTransfer(int* count) {
    TW_PENDINGXFERS pending{0xBEEF, 0};
    const TW_UINT16 result = Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    *count = pending.Count;
    return result;
}

TW_UINT16 TestChartSourceTest::Transfer(HGLOBAL* page) {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 result = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    *page = static_cast<HGLOBAL>(handle);
    return result;
}

void TestChartSourceTest::WaitForOwnNotification(TW_UINT16 twainMessage) {
    const MSG msg = WaitForNotification();
    EXPECT_EQ(msg.hwnd, m_window.Handle());
    EXPECT_EQ(msg.message, kSourceNotifyMessage);
    EXPECT_EQ(msg.wParam, twainMessage);
    EXPECT_EQ(msg.lParam, static_cast<LPARAM>(kSourceId));
    TW_UINT16 claimedAs = 0;
    EXPECT_EQ(ProcessEvent(&msg, &claimedAs), TWRC_DSEVENT);
    EXPECT_EQ(claimedAs, twainMessage);
}
