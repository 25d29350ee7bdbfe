// Whole acquisitions from SANE's test backend with no GUI: CTwain loads the real DSM
// by name, the DSM finds sane.ds beside it, and a plain message window carries the
// source's notifications, as the program's main frame does. Unattended, so the source
// scans at once and asks to be closed after its batch. SANE reads the project's test
// configuration (SANE_CONFIG_DIR), and each test has its own XDG_CONFIG_HOME.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "sources/sane/SaneSettings.h"
#include "tests/sources/sane/SaneTestImages.h"
#include "twain/Twain.h"

struct ReceivedImage {
    std::vector<uint8_t> block;
    TW_IMAGEINFO info;
};

class SaneTwain : public CTwain {
public:
    ~SaneTwain() override { ReleaseTwain(); }
    void ReceiveImage(HGLOBAL image, const TW_IMAGEINFO& info) override {
        images.push_back({BlockContents(image), info});
    }
    std::string SourceName() const { return m_Source.ProductName; }

    std::vector<ReceivedImage> images;
};

class SaneTwainTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Acquires with `options` in VELOMARK_SANE_OPTIONS and `count` as CAP_XFERCOUNT
    // until the source has asked to be closed and been closed; false when it did not
    // within the time.
    bool Acquire(SaneTwain& twain, const SaneSettings& options, int count = -1);
    // The same with a ticket's settings negotiated before enabling (and without the
    // source's window, as a ticket asks by default).
    bool AcquireTicket(SaneTwain& twain, const SaneSettings& options, const std::string& ticket);
    // The image received, decoded; fails the test when it is no DIB.
    static DecodedImage Decoded(const ReceivedImage& image);

    bool AcquireWith(SaneTwain& twain, const SaneSettings& options,
                     const std::function<bool(SaneTwain&)>& start);

    // The SANE name and the product name of this test's device.
    std::string m_device;
    std::string m_productName;
    std::filesystem::path m_config;
    size_t m_blocksBefore = 0;
};
