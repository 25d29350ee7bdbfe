// One stream's queue in process: a client that does not read is cut off with the
// error event once what waits passes the limit.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "bridge/CommandSocketWire.h"
#include "bridge/ImageStream.h"
#include "bridge/StreamHub.h"

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
    ASSERT_GE(image->fd, 0) << error;
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

}  // namespace
}  // namespace velomark
