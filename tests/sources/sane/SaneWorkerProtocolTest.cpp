// The source's side of the worker's protocol against a worker that breaks it
// (FakeSaneWorker.cpp): each answer is refused, the worker killed, and the call
// fails with a sentence instead of reading past what came.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sources/sane/SaneDevice.h"
#include "sources/sane/SaneRemoteDevice.h"

namespace {

class SaneWorkerProtocolTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("VELOMARK_SANE_WORKER", FAKE_SANE_WORKER_PATH, 1); }
    void TearDown() override { unsetenv("VELOMARK_SANE_WORKER"); }
};

TEST_F(SaneWorkerProtocolTest, AListLongerThanAnyIsRefused) {
    std::vector<SaneDeviceInfo> devices;
    std::string error;
    EXPECT_FALSE(SaneRemoteDevice::ListDevices("many-devices", &devices, &error));
    EXPECT_EQ(error, "the scanner driver answered nonsense: a malformed list of devices");
    EXPECT_TRUE(devices.empty());
}

TEST_F(SaneWorkerProtocolTest, AReplyCutShortIsRefused) {
    std::vector<SaneDeviceInfo> devices;
    std::string error;
    EXPECT_FALSE(SaneRemoteDevice::ListDevices("short-reply", &devices, &error));
    EXPECT_EQ(error, "the scanner driver answered nonsense: a malformed reply");
}

TEST_F(SaneWorkerProtocolTest, ASegmentPastTheRegionsEndIsNeverRead) {
    SANE_Handle handle = nullptr;
    std::string error;
    ASSERT_EQ(SaneRemoteDevice::Open("slot-outside", "fake:0", &handle, &error),
              SANE_STATUS_GOOD)
        << error;
    std::unique_ptr<SaneDevice> device =
        SaneDevice::Adopt(SaneRemoteDevice::Api(), handle, "fake:0");
    const SaneApi& api = device->Api();
    ASSERT_EQ(api.start(handle), SANE_STATUS_GOOD);
    std::vector<SANE_Byte> buffer(4096);
    SANE_Int length = -1;
    EXPECT_EQ(api.read(handle, buffer.data(), SANE_Int(buffer.size()), &length),
              SANE_STATUS_IO_ERROR);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(api.StatusText(handle, SANE_STATUS_IO_ERROR),
              "the scanner driver answered nonsense: a segment of a frame outside its memory");
    // The source lives on: the next start asks a fresh worker.
    EXPECT_EQ(api.start(handle), SANE_STATUS_GOOD);
}

TEST_F(SaneWorkerProtocolTest, TheWorkerGetsNoneOfVelomarksDescriptors) {
    // As Velomark's sections and sockets would be, inheritable.
    const int held = open("/dev/null", O_RDONLY);
    ASSERT_GE(held, 0);
    SANE_Handle handle = nullptr;
    std::string error;
    EXPECT_EQ(SaneRemoteDevice::Open("own-fds-only", "fake:0", &handle, &error),
              SANE_STATUS_GOOD)
        << error;
    close(held);
    if (handle) SaneRemoteDevice::Api().close(handle);
}

TEST_F(SaneWorkerProtocolTest, AWorkerStartedAheadIsNotUsedOnceTheEnvironmentChanged) {
    SANE_Handle handle = nullptr;
    std::string error;
    setenv("FAKE_SANE_WORKER_OPENS", "yes", 1);
    ASSERT_EQ(SaneRemoteDevice::Open("open-if-asked", "fake:0", &handle, &error),
              SANE_STATUS_GOOD)
        << error;
    SaneRemoteDevice::Api().close(handle);  // starts the next worker ahead
    setenv("FAKE_SANE_WORKER_OPENS", "no", 1);
    handle = nullptr;
    EXPECT_EQ(SaneRemoteDevice::Open("open-if-asked", "fake:0", &handle, &error),
              SANE_STATUS_ACCESS_DENIED);
    unsetenv("FAKE_SANE_WORKER_OPENS");
    if (handle) SaneRemoteDevice::Api().close(handle);
}

TEST_F(SaneWorkerProtocolTest, AWorkerThatDiedIsReplacedAndGivenTheOptionsItHad) {
    SANE_Handle handle = nullptr;
    std::string error;
    ASSERT_EQ(SaneRemoteDevice::Open("dies-at-start", "fake:0", &handle, &error),
              SANE_STATUS_GOOD)
        << error;
    std::unique_ptr<SaneDevice> device =
        SaneDevice::Adopt(SaneRemoteDevice::Api(), handle, "fake:0");
    ASSERT_TRUE(device->SetOption("resolution", "7", &error)) << error;
    const SaneApi& api = device->Api();
    // The worker ends with the resolution it was given as its status.
    for (int start = 0; start < 2; ++start) {
        EXPECT_EQ(api.start(handle), SANE_STATUS_IO_ERROR);
        EXPECT_EQ(api.StatusText(handle, SANE_STATUS_IO_ERROR),
                  "the scanner driver stopped: it exited with status 7");
    }
}

}  // namespace
