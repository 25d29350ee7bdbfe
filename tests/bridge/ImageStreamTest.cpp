// One stream's queue in process: a client that does not read is cut off with the
// error event once what waits passes the limit; images written into the files the
// hub allocates ahead arrive whole, sealed and of their own size.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "bridge/CommandSocketWire.h"
#include "bridge/ImageStream.h"
#include "bridge/SealedImage.h"
#include "bridge/StreamHub.h"
#include "tests/bridge/StreamReceive.h"

namespace velomark {
namespace {

TEST(ImageStreamTest, PastTheWaitLimitOnlyTheErrorEventGoesOut) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    ImageStream stream(ends[0], 0, 100);
    std::string error;
    const std::string bytes(60, 'x');
    const unsigned char info[kStreamInfoSize] = {};
    auto image = std::make_shared<SealedImage>(
        StreamHub::MakeSealedFile(bytes.data(), bytes.size(), &error), bytes.size());
    ASSERT_GE(image->Descriptor(), 0) << error;
    stream.PushImage(image, info);  // 60 bytes wait
    stream.PushImage(image, info);  // 120 would: cut off
    EXPECT_FALSE(stream.Open());
    stream.Run();
    close(ends[0]);

    unsigned char header[kStreamHeaderSize];
    ASSERT_EQ(CommandSocketWire::ReadExact(ends[1], header, sizeof(header), 1000), IoResult::Done);
    const StreamHeader decoded = StreamWire::Decode(header);
    EXPECT_EQ(decoded.kind, STREAM_ERROR);
    std::string text(decoded.size, '\0');
    ASSERT_EQ(CommandSocketWire::ReadExact(ends[1], text.data(), text.size(), 1000),
              IoResult::Done);
    EXPECT_EQ(text, "the client is not reading");
    char more;
    EXPECT_EQ(read(ends[1], &more, 1), 0);
    close(ends[1]);
}

// A spare file larger than the image, copied into a stretch at a time while the
// stretches copied are unmapped behind: the sealed file is the image, to its last
// byte, and no writable mapping is left to stop the seal.
TEST(SealedImageTest, AnImageCopiedByStretchesIsSealedWholeAndCutToSize) {
    const size_t stretch = 64 * 1024, spareSize = 4 * stretch;
    for (size_t size : {stretch / 2, stretch, 3 * stretch + 123}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + i / 4096);
        const int fd = memfd_create("spare", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(spareSize)), 0);
        void* mapping = mmap(nullptr, spareSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ASSERT_NE(mapping, MAP_FAILED);
        SealedImage image(fd, bytes.data(), size, mapping, spareSize, stretch);
        ASSERT_GE(image.Descriptor(), 0) << "size " << size;
        std::string read(size, '\0');
        EXPECT_EQ(pread(fd, read.data(), size, 0), static_cast<ssize_t>(size));
        EXPECT_TRUE(read == bytes) << "size " << size;
        EXPECT_EQ(lseek(fd, 0, SEEK_END), static_cast<off_t>(size));
        EXPECT_EQ(image.Descriptor(), fd);  // sealed once
    }
}

TEST(StreamHubTest, ImagesWrittenIntoTheSpareFileArriveWhole) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    StreamHub hub;
    std::shared_ptr<ImageStream> stream = hub.Add(ends[0], 3);
    std::thread sender([&] { stream->Run(); });
    const unsigned char info[kStreamInfoSize] = {};
    const std::string first(300000, 'a'), second(300000, 'b'), third(1000, 'c');
    hub.TakeImage(first.data(), first.size(), info);
    for (const std::string* image : {&second, &third}) {
        // The spare is there before the next image comes; the last one is smaller.
        for (int waited = 0; waited < 5000 && !hub.SpareReady(); ++waited) usleep(1000);
        ASSERT_TRUE(hub.SpareReady());
        hub.TakeImage(image->data(), image->size(), info);
    }
    for (const std::string* image : {&first, &second, &third})
        EXPECT_TRUE(ReceiveImage(ends[1]) == *image);
    sender.join();
    hub.Remove(stream);
    close(ends[0]);
    close(ends[1]);
}

}  // namespace
}  // namespace velomark
