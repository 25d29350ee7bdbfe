// Shared pieces of the bridge tests: a channel of the test's own (a name suffix per
// test, so tests run side by side), counted actions and plain documents.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ChannelActions.h"
#include "bridge/ImageDocument.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"

namespace velomark {

struct CountingActions : ChannelActions {
    int selects = 0;
    int acquires = 0;
    int lastImages = 0;
    BOOL SelectSource() override {
        ++selects;
        return TRUE;
    }
    BOOL Acquire(int nImages) override {
        ++acquires;
        lastImages = nImages;
        return TRUE;
    }
};

struct TestDocument : ImageDocument {
    CDIB image;
    int updates = 0;
    bool discarded = false;
    CDIB& Image() override { return image; }
    void UpdateAllViews() override { ++updates; }
    void Discard() override { discarded = true; }
};

struct TestDocuments : ImageDocumentFactory {
    std::vector<std::unique_ptr<TestDocument>> documents;
    bool refuse = false;
    // Called as each document is asked for (the moment a window would be made).
    std::function<void()> onOpen;
    ImageDocument* OpenNewDocument() override {
        if (onOpen) onOpen();
        if (refuse) return nullptr;
        documents.push_back(std::make_unique<TestDocument>());
        return documents.back().get();
    }
};

// Gives each test its own section names; closes the process's channel afterwards.
class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_suffix = std::string("-t") + std::to_string(getpid()) + "-" +
                   std::to_string(counter++) + "-" + test->name();
        setenv("VELOMARK_CHANNEL_SUFFIX", m_suffix.c_str(), 1);
    }
    void TearDown() override {
        SharedChannel::Instance().Close();
        unsetenv("VELOMARK_CHANNEL_SUFFIX");
    }
    SharedChannel& Channel() { return SharedChannel::Instance(); }
    std::string PeerPath() const { return CHANNEL_PEER_PATH; }

    std::string m_suffix;
};

}  // namespace velomark
