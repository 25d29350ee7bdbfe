#include "tests/sources/sane/SaneTwainFixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>

#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "tests/sources/sane/SaneScanimage.h"
#include "twain/ScanTicket.h"

namespace {

const char* const kVariables[] = {"XDG_CONFIG_HOME",         "VELOMARK_UNATTENDED",
                                  "VELOMARK_DEFAULT_SOURCE", "VELOMARK_SANE_OPTIONS",
                                  "VELOMARK_SANE_LIBRARY",   "SANE_CONFIG_DIR"};

}  // namespace

void SaneTwainTest::SetUp() {
    char folder[] = "/tmp/velomark-sane-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_config = folder;
    for (const char* name : kVariables) unsetenv(name);
    unsetenv("VELOMARK_DSM");
    unsetenv("VELOMARK_SOURCE_PATH");
    setenv("XDG_CONFIG_HOME", folder, 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    m_device = "test:" + std::to_string(FreshSaneTestDevice());
    m_productName = "frontend-tester (" + m_device + ")";
    setenv("VELOMARK_DEFAULT_SOURCE", m_device.c_str(), 1);
    setenv("SANE_CONFIG_DIR", SaneTestConfigDir(), 1);
    m_blocksBefore = GlobalLiveBlockCount();
}

void SaneTwainTest::TearDown() {
    EXPECT_EQ(GlobalLiveBlockCount(), m_blocksBefore) << "a global block was not freed";
    for (const char* name : kVariables) unsetenv(name);
    std::filesystem::remove_all(m_config);
}

bool SaneTwainTest::Acquire(SaneTwain& twain, const SaneSettings& options, int count) {
    return AcquireWith(twain, options, [count](SaneTwain& t) { return bool(t.Acquire(count)); });
}

bool SaneTwainTest::AcquireTicket(SaneTwain& twain, const SaneSettings& options,
                                  const std::string& text) {
    return AcquireWith(twain, options, [&text](SaneTwain& t) {
        ScanTicket ticket;
        std::string sentence;
        EXPECT_TRUE(ScanTicket::Parse(text, &ticket, &sentence)) << sentence;
        const bool started = t.AcquireTicket(ticket, &sentence);
        EXPECT_TRUE(started) << sentence;
        return started;
    });
}

bool SaneTwainTest::AcquireWith(SaneTwain& twain, const SaneSettings& options,
                                const std::function<bool(SaneTwain&)>& start) {
    setenv("VELOMARK_SANE_OPTIONS", options.Format().c_str(), 1);
    MessageWindow window;
    EXPECT_TRUE(twain.InitTwain(window.Handle())) << ModuleLoadError();
    if (!twain.IsDsmOpen() || !start(twain)) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    MSG msg;
    while (twain.IsSourceOpen() && std::chrono::steady_clock::now() < deadline)
        if (window.Wait(&msg, 100)) twain.FilterMessage(msg);
    const bool closed = !twain.IsSourceOpen();
    twain.ReleaseTwain();
    return closed;
}

DecodedImage SaneTwainTest::Decoded(const ReceivedImage& image) {
    DecodedImage decoded;
    std::string error;
    EXPECT_TRUE(DecodeDib(image.block, &decoded, &error)) << error;
    return decoded;
}
