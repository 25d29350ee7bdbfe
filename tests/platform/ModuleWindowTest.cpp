// Module loading over dlopen, and windows that take posted messages from any thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Module.h"
#include "platform/Window.h"

TEST(Module, LoadsFindsByNameAndOrdinalAndCountsFrees) {
    HMODULE first = LoadLibraryA(FAKE_DSM_PATH);
    ASSERT_NE(first, nullptr) << ModuleLoadError();
    HMODULE second = LoadLibraryA(FAKE_DSM_PATH);
    ASSERT_NE(second, nullptr);

    FARPROC byName = GetProcAddress(first, "DSM_Entry");
    EXPECT_NE(byName, nullptr);
    EXPECT_EQ(GetProcAddress(first, MAKEINTRESOURCEA(1)), byName);
    EXPECT_EQ(GetProcAddress(first, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(first, "NoSuchSymbol"), nullptr);

    // Each load is freed once; a third free of the same handle is refused.
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetProcAddress(first, "DSM_Entry"), nullptr);
}

TEST(Module, FailuresAreReportedNotCrashed) {
    EXPECT_EQ(LoadLibraryA("/nonexistent/libnothing.so"), nullptr);
    EXPECT_STRNE(ModuleLoadError(), "");
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(GetProcAddress(nullptr, "DSM_Entry"), nullptr);
    HMODULE noEntry = LoadLibraryA(FAKE_DSM_NOENTRY_PATH);
    ASSERT_NE(noEntry, nullptr);
    EXPECT_EQ(GetProcAddress(noEntry, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_TRUE(FreeLibrary(noEntry));
}

TEST(Window, LiveUntilDestroyedAndPostsInOrder) {
    HWND dead;
    {
        MessageWindow window;
        HWND hwnd = window.Handle();
        EXPECT_TRUE(IsWindow(hwnd));
        EXPECT_TRUE(PostMessage(hwnd, WM_USER + 1, 10, -20));
        EXPECT_TRUE(PostMessage(hwnd, WM_USER + 2, 0, 0));
        MSG msg;
        ASSERT_TRUE(window.Peek(&msg));
        EXPECT_EQ(msg.hwnd, hwnd);
        EXPECT_EQ(msg.message, WM_USER + 1);
        EXPECT_EQ(msg.wParam, 10u);
        EXPECT_EQ(msg.lParam, -20);
        ASSERT_TRUE(window.Peek(&msg));
        EXPECT_EQ(msg.message, WM_USER + 2);
        EXPECT_FALSE(window.Peek(&msg));
        EXPECT_FALSE(window.Wait(&msg, 10));
        dead = hwnd;
    }
    EXPECT_FALSE(IsWindow(dead));
    EXPECT_FALSE(PostMessage(dead, WM_USER, 0, 0));
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(PostMessage(nullptr, WM_USER, 0, 0));
}

TEST(Window, PostsFromManyThreadsWakeTheOwnerAndNoneIsLost) {
    MessageWindow window;
    std::atomic<int> wakes{0};
    window.SetWakeHandler([&] { ++wakes; });
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) PostMessage(window.Handle(), WM_APP, t, i);
        });
    std::vector<int> next(kThreads, 0);
    MSG msg;
    for (int received = 0; received < kThreads * kEach; ++received) {
        ASSERT_TRUE(window.Wait(&msg, 10000));
        // Each thread's messages arrive in the order it posted them.
        EXPECT_EQ(msg.lParam, next[msg.wParam]++);
    }
    for (auto& poster : posters) poster.join();
    EXPECT_EQ(wakes.load(), kThreads * kEach);
    EXPECT_EQ(window.QueuedCount(), 0u);
}

TEST(Window, PostingWhileTheWindowIsDestroyedIsSafe) {
    std::atomic<MessageWindow*> target{nullptr};
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) PostMessage(target.load(), WM_APP, 0, 0);
    });
    for (int i = 0; i < 200; ++i) {
        auto* window = new MessageWindow;
        target = window;
        std::this_thread::yield();
        target = nullptr;
        delete window;
    }
    stop = true;
    poster.join();
}
