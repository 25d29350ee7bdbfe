// The SANE source library driven through SaneSource::Entry as the DSM forwards an
// application's triplets, with the real libsane and its test backend, a MessageWindow as
// the application's window and no toolkit.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Window.h"
#include "sources/sane/SaneSource.h"
#include "tests/sources/sane/SaneScanimage.h"
#include "tests/sources/sane/SaneTestImages.h"
#include "twain/DataSource.h"

class SaneSourceTest : public ::testing::Test {
protected:
    static constexpr TW_UINT32 kSourceId = 9;

    void SetUp() override {
        setenv("SANE_CONFIG_DIR", SaneTestConfigDir(), 1);
        // This program holds the source's code itself, not sane.ds beside the worker.
        setenv("VELOMARK_SANE_WORKER", VELOMARK_SANE_WORKER_PATH, 1);
        char folder[] = "/tmp/velomark-sane-source-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_config = folder;
        setenv("XDG_CONFIG_HOME", folder, 1);
        m_blocks = GlobalLiveBlockCount();
    }
    void TearDown() override {
        m_source.reset();
        EXPECT_EQ(GlobalLiveBlockCount(), m_blocks) << "a global block was not freed";
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_config);
    }

    void MakeSource(const std::string& options, const std::string& library = "libsane.so.1",
                    bool unattended = false) {
        SaneSource::Environment environment;
        environment.libraryFile = library;
        environment.options = options;
        environment.unattended = unattended;
        m_source = std::make_unique<SaneSource>(
            nullptr, [environment] { return environment; }, m_log);
    }
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        TW_IDENTITY application{};
        application.Id = 1;
        return m_source->Entry(&application, dg, dat, msg, data);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        EXPECT_EQ(m_source->Entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    std::vector<TW_IDENTITY> List() {
        std::vector<TW_IDENTITY> listed;
        TW_IDENTITY identity{};
        for (TW_UINT16 rc =
                 m_source->Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
             rc == TWRC_SUCCESS;
             rc = m_source->Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity))
            listed.push_back(identity);
        return listed;
    }
    // Opens a device no earlier test used, or the one opened last.
    TW_UINT16 Open(bool sameDevice = false) {
        const std::vector<TW_IDENTITY> listed = List();
        EXPECT_FALSE(listed.empty());
        if (listed.empty()) return TWRC_FAILURE;
        if (!sameDevice) m_deviceIndex = size_t(FreshSaneTestDevice());
        const size_t index = m_deviceIndex;
        EXPECT_LT(index, listed.size());
        if (index >= listed.size()) return TWRC_FAILURE;
        TW_IDENTITY identity = listed[index];
        identity.Id = kSourceId;
        return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    }
    TW_UINT16 Enable(bool showUi) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = showUi;
        ui.hParent = m_window.Handle();
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
    TW_UINT16 Disable() {
        TW_USERINTERFACE ui{};
        ui.hParent = m_window.Handle();
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    TW_UINT16 Close() {
        TW_IDENTITY identity{};
        identity.Id = kSourceId;
        return Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
    }
    TW_UINT16 SetCount(TW_INT16 count) {
        HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
        const TW_ONEVALUE value{TWTY_INT16, static_cast<TW_UINT16>(count)};
        std::memcpy(GlobalLock(container), &value, sizeof value);
        GlobalUnlock(container);
        TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, container};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        GlobalFree(container);
        return rc;
    }
    int GetCount(TW_UINT16 msg = MSG_GET) {
        TW_CAPABILITY cap{CAP_XFERCOUNT, 0, nullptr};
        if (Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap) != TWRC_SUCCESS) return -999;
        TW_ONEVALUE value{};
        std::memcpy(&value, GlobalLock(static_cast<HGLOBAL>(cap.hContainer)), sizeof value);
        GlobalFree(static_cast<HGLOBAL>(cap.hContainer));
        return static_cast<TW_INT16>(value.Item & 0xffff);
    }
    // MSG_SET of a capability with a one-value container of `item`.
    TW_UINT16 SetCap(TW_UINT16 capability, TW_UINT16 itemType, TW_UINT32 item) {
        HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
        const TW_ONEVALUE value{itemType, item};
        std::memcpy(GlobalLock(container), &value, sizeof value);
        GlobalUnlock(container);
        TW_CAPABILITY cap{capability, TWON_ONEVALUE, container};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        GlobalFree(container);
        return rc;
    }
    // The container a capability's msg answers, as bytes, and its type in *conType;
    // empty when the source fails it (its condition then in *conType).
    std::vector<uint8_t> GetCap(TW_UINT16 capability, TW_UINT16 msg, TW_UINT16* conType) {
        TW_CAPABILITY cap{capability, 0, nullptr};
        if (Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap) != TWRC_SUCCESS) {
            *conType = Condition();
            return {};
        }
        *conType = cap.ConType;
        std::vector<uint8_t> bytes = BlockContents(static_cast<HGLOBAL>(cap.hContainer));
        GlobalFree(static_cast<HGLOBAL>(cap.hContainer));
        return bytes;
    }
    // The item of a one-value answer to msg; 0xDEAD when there is none.
    TW_UINT32 OneValue(TW_UINT16 capability, TW_UINT16 msg = MSG_GETCURRENT) {
        TW_UINT16 conType = 0;
        const std::vector<uint8_t> bytes = GetCap(capability, msg, &conType);
        TW_ONEVALUE value{};
        if (conType != TWON_ONEVALUE || bytes.size() < sizeof value) return 0xDEAD;
        std::memcpy(&value, bytes.data(), sizeof value);
        return value.Item;
    }

    // The next notification the source posts, as the source claims it; MSG_NULL
    // when none comes within the time.
    TW_UINT16 NextNotification(int timeoutMs = 20000) {
        MSG msg{};
        if (!m_window.Wait(&msg, timeoutMs)) return MSG_NULL;
        TW_EVENT event{&msg, 0xBEEF};
        EXPECT_EQ(Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
        return event.TWMessage;
    }
    // Takes every waiting page as CTwain does; the number taken. The pages' bytes go to
    // *pages when asked.
    int TransferAll(std::vector<TW_IMAGEINFO>* infos = nullptr,
                    std::vector<std::vector<uint8_t>>* pages = nullptr) {
        int taken = 0;
        TW_PENDINGXFERS pending{1, 0};
        while (pending.Count > 0) {
            TW_IMAGEINFO info{};
            EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
            TW_HANDLE image = nullptr;
            EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
            EXPECT_GT(GlobalSize(static_cast<HGLOBAL>(image)), 40u);
            if (pages) pages->push_back(BlockContents(static_cast<HGLOBAL>(image)));
            GlobalFree(static_cast<HGLOBAL>(image));
            if (infos) infos->push_back(info);
            ++taken;
            EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        }
        return taken;
    }

    size_t m_deviceIndex = 0;
    std::ostringstream m_log;
    std::unique_ptr<SaneSource> m_source;
    MessageWindow m_window;
    std::filesystem::path m_config;
    size_t m_blocks = 0;
};
