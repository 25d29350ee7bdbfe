// One acquired image on its way to a new document and into the channel.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <sys/socket.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/ChannelLayout.h"
#include "bridge/ChannelRequests.h"
#include "bridge/ImageHandoff.h"
#include "bridge/ImageStream.h"
#include "bridge/StreamHub.h"
#include "tests/bridge/ChannelImages.h"
#include "tests/bridge/ChannelTestSupport.h"
#include "tests/bridge/StreamReceive.h"

namespace velomark {
namespace {

class ImageHandoffTest : public ChannelTest {
protected:
    void SetUp() override {
        ChannelTest::SetUp();
        Channel().Open();
        ASSERT_NE(Channel().StatusBlock(), nullptr);
        std::memset(Channel().DataBlock(), 0xEE, 4096);
    }
    PublishResult Publish(HGLOBAL h, int bits, const TW_IMAGEINFO& info,
                          ImageSink* streams = nullptr) {
        PublishResult result = PublishImage(h, bits, info, documents, Channel(), streams);
        GlobalFree(h);
        return result;
    }
    BITMAPINFOHEADER DataHeader() {
        BITMAPINFOHEADER header;
        std::memcpy(&header, Channel().DataBlock(), sizeof header);
        return header;
    }
    TW_IMAGEINFO Description() {
        TW_IMAGEINFO info;
        std::memcpy(&info, Channel().StatusBlock() + kImageInfoOffset, sizeof info);
        return info;
    }
    TW_IMAGEINFO Info(int bits, int width, int height) {
        TW_IMAGEINFO info{};
        info.XResolution = TW_FIX32{300, 0x8000};
        info.YResolution = TW_FIX32{150, 0};
        info.ImageWidth = width;
        info.ImageLength = height;
        info.SamplesPerPixel = bits == 24 ? 3 : 1;
        info.BitsPerPixel = static_cast<TW_INT16>(bits);
        info.PixelType = bits == 24 ? TWPT_RGB : TWPT_GRAY;
        return info;
    }
    TestDocuments documents;
};

TEST_F(ImageHandoffTest, TwentyFourBitImageKeepsItsHeaderAndFillsExactlyItsBytes) {
    BITMAPINFOHEADER header = DibHeader(1, 2, 24);
    header.biXPelsPerMeter = 11811;
    header.biYPelsPerMeter = 5905;
    header.biSizeImage = 8;
    const TW_IMAGEINFO info = Info(24, 1, 2);
    ASSERT_EQ(Publish(MakePackedDib(header, {}, {{1, 2, 3}, {4, 5, 6}}), 24, info),
              PublishResult::Published);

    EXPECT_EQ(std::memcmp(Channel().DataBlock(), &header, 40), 0);
    const BYTE rows[8] = {4, 5, 6, 0, 1, 2, 3, 0};  // bottom row first
    EXPECT_EQ(std::memcmp(Channel().DataBlock() + 40, rows, 3), 0);
    EXPECT_EQ(std::memcmp(Channel().DataBlock() + 44, rows + 4, 3), 0);
    EXPECT_EQ(Channel().DataBlock()[48], 0xEE);  // 40 + 4 x 2 bytes, no more
    EXPECT_EQ(std::memcmp(Channel().StatusBlock() + kImageInfoOffset, &info, 42), 0);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);

    ASSERT_EQ(documents.documents.size(), 1u);
    EXPECT_EQ(documents.documents[0]->updates, 1);
    EXPECT_EQ(documents.documents[0]->image.GetDIBSize(), 48);

    // Placed from the source's block, the page is byte for byte what its document
    // holds, also past an optional table the rows follow.
    header.biClrUsed = 2;
    Channel().StoreStatus(CHANNEL_IDLE);
    ASSERT_EQ(Publish(MakePackedDib(header, {{9, 9, 9, 0}, {8, 8, 8, 0}}, {{1, 2, 3}, {4, 5, 6}}),
                      24, info),
              PublishResult::Published);
    ASSERT_EQ(documents.documents.size(), 2u);
    const CDIB& held = documents.documents[1]->image;
    EXPECT_EQ(std::memcmp(Channel().DataBlock(), held.m_pBlock, size_t(held.GetDIBSize())), 0);
    EXPECT_EQ(held.m_pInfo->biClrUsed, 0u);
}

TEST_F(ImageHandoffTest, ExpandedImageHasAFreshHeaderAndTheDescriptionAsDelivered) {
    std::vector<RGBQUAD> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    BITMAPINFOHEADER header = DibHeader(5, 1, 8);
    header.biXPelsPerMeter = 11811;
    header.biClrUsed = 256;
    const TW_IMAGEINFO info = Info(8, 5, 1);
    ASSERT_EQ(Publish(MakePackedDib(header, grey, {{0, 64, 128, 192, 255}}), 8, info),
              PublishResult::Published);

    const BITMAPINFOHEADER out = DataHeader();
    EXPECT_EQ(out.biSize, 40u);
    EXPECT_EQ(out.biWidth, 5);
    EXPECT_EQ(out.biHeight, 1);
    EXPECT_EQ(out.biPlanes, 1);
    EXPECT_EQ(out.biBitCount, 24);
    EXPECT_EQ(out.biXPelsPerMeter, 0);
    EXPECT_EQ(out.biClrUsed, 0u);
    const BYTE pixels[15] = {0, 0, 0, 64, 64, 64, 128, 128, 128, 192, 192, 192, 255, 255, 255};
    EXPECT_EQ(std::memcmp(Channel().DataBlock() + 40, pixels, 15), 0);
    EXPECT_EQ(Channel().DataBlock()[40 + 16], 0xEE);  // stride 16 for width 5
    EXPECT_EQ(Description().BitsPerPixel, 8);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
}

TEST_F(ImageHandoffTest, TheBitmapHeaderNotTheDescriptionDecidesTheExpansion) {
    std::vector<RGBQUAD> table(2);
    table[1] = {0xFF, 0xFF, 0xFF, 0};
    // Said to be 24 bits, laid out as 1 bit: expanded all the same.
    ASSERT_EQ(Publish(MakePackedDib(DibHeader(8, 1, 1), table, {{0xF0}}), 24, Info(24, 8, 1)),
              PublishResult::Published);
    EXPECT_EQ(DataHeader().biBitCount, 24);
    EXPECT_EQ(Channel().DataBlock()[40], 0xFF);       // pixel 0 is white
    EXPECT_EQ(Channel().DataBlock()[40 + 3 * 4], 0);  // pixel 4 is black
    // Said to be 1 bit, laid out as 24: taken over, not refused.
    Channel().StoreStatus(CHANNEL_IDLE);
    TW_IMAGEINFO info;
    HGLOBAL colour = MakeChannelImage(3, 5, 2, &info);
    info.BitsPerPixel = 1;
    EXPECT_EQ(Publish(colour, 1, info), PublishResult::Published);
    EXPECT_EQ(DataHeader().biBitCount, 24);
    EXPECT_EQ(DataHeader().biWidth, 5);
}

TEST_F(ImageHandoffTest, SecondImageReplacesTheFirstEverywhere) {
    TW_IMAGEINFO first, second;
    ASSERT_EQ(Publish(MakeChannelImage(1, 30, 20, &first), 24, first), PublishResult::Published);
    Channel().StoreStatus(CHANNEL_IDLE);
    ASSERT_EQ(Publish(MakeChannelImage(2, 6, 4, &second), 24, second), PublishResult::Published);
    EXPECT_EQ(documents.documents.size(), 2u);
    EXPECT_TRUE(ChannelImageMatchesDescription(Channel().DataBlock(), Channel().DataBlockSize(),
                                               Channel().StatusBlock() + kImageInfoOffset));
    EXPECT_EQ(Description().XResolution.Whole, 2);
    EXPECT_EQ(documents.documents[1]->image.m_nWidth, 6);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
}

TEST_F(ImageHandoffTest, ImagesWaitUntilTheClientTookThePreviousOne) {
    TW_IMAGEINFO info;
    for (int serial = 1; serial <= 3; ++serial)
        EXPECT_EQ(Publish(MakeChannelImage(serial, 20 + serial, 10, &info), 24, info),
                  serial == 1 ? PublishResult::Published : PublishResult::Queued);
    EXPECT_EQ(documents.documents.size(), 3u);  // every image has its window at once
    EXPECT_EQ(Channel().Outbox().Count(), 2u);

    CountingActions actions;
    for (int expected = 1; expected <= 3; ++expected) {
        for (int i = 0; i < 3; ++i) PollChannel(Channel(), actions);  // 5 holds the image
        EXPECT_EQ(Description().XResolution.Whole, expected);
        EXPECT_TRUE(ChannelImageMatchesDescription(Channel().DataBlock(),
                                                   Channel().DataBlockSize(),
                                                   Channel().StatusBlock() + kImageInfoOffset));
        Channel().StoreStatus(CHANNEL_IDLE);  // the client took it
        PollChannel(Channel(), actions);
    }
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_TRUE(Channel().Outbox().Empty());
    EXPECT_EQ(actions.selects + actions.acquires, 0);
}

TEST_F(ImageHandoffTest, ARequestSupersedesTheImagesStillWaiting) {
    TW_IMAGEINFO info;
    Publish(MakeChannelImage(1, 8, 8, &info), 24, info);
    Publish(MakeChannelImage(2, 8, 8, &info), 24, info);
    Channel().StoreStatus(CHANNEL_ACQUIRE);  // the client's answer to image 1
    // An image arriving now must not overwrite the request either.
    EXPECT_EQ(Publish(MakeChannelImage(3, 8, 8, &info), 24, info), PublishResult::Queued);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_ACQUIRE);

    CountingActions actions;
    PollChannel(Channel(), actions);
    EXPECT_EQ(actions.acquires, 1);
    // Images 2 and 3 came before the request: the client never gets them.
    EXPECT_TRUE(Channel().Outbox().Empty());
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_EQ(documents.documents.size(), 3u);
    EXPECT_EQ(Publish(MakeChannelImage(4, 8, 8, &info), 24, info), PublishResult::Published);
}

TEST_F(ImageHandoffTest, AnAcquireRequestJoinsTheRunningAcquisitionASelectWaits) {
    struct Running : CountingActions {
        bool running = true;
        bool AcquisitionRunning() const override { return running; }
    } actions;
    TW_IMAGEINFO info;
    Publish(MakeChannelImage(1, 8, 8, &info), 24, info);
    Publish(MakeChannelImage(2, 8, 8, &info), 24, info);
    Channel().StoreStatus(CHANNEL_ACQUIRE);  // taken up at once, not held in the word
    PollChannel(Channel(), actions);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_EQ(actions.acquires, 0);  // the enabled source would refuse it
    EXPECT_TRUE(Channel().Outbox().Empty());  // image 2 came before the request
    EXPECT_TRUE(Channel().JoinedAcquisition());
    // The next page the source transfers is the client's.
    EXPECT_EQ(Publish(MakeChannelImage(3, 8, 8, &info), 24, info), PublishResult::Published);
    EXPECT_EQ(Description().XResolution.Whole, 3);

    Channel().StoreStatus(CHANNEL_SELECT_SOURCE);
    PollChannel(Channel(), actions);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_SELECT_SOURCE);
    actions.running = false;  // the source has closed
    PollChannel(Channel(), actions);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_EQ(actions.selects, 1);
}

TEST_F(ImageHandoffTest, AGrownSectionCarriesALargerImage) {
    // 2400 x 2236 at 24 bits packs to 16,099,240 bytes, more than the usual section.
    constexpr size_t kPacked = 40 + size_t(7200) * 2236;
    const std::string name = "/" + ChannelSectionName(kDataSectionName);
    const int fd = shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, kPacked + 4096), 0);  // as a client grows it
    close(fd);
    Channel().StoreStatus(CHANNEL_IDLE);
    HGLOBAL h = GlobalAlloc(GHND, kPacked);
    BITMAPINFOHEADER header = DibHeader(2400, 2236, 24);
    std::memcpy(GlobalLock(h), &header, 40);
    GlobalUnlock(h);
    EXPECT_EQ(Publish(h, 24, Info(24, 2400, 2236)), PublishResult::Published);
    EXPECT_EQ(Channel().DataBlockSize(), kPacked + 4096);
    EXPECT_EQ(DataHeader().biWidth, 2400);
}

TEST_F(ImageHandoffTest, ImageLargerThanTheBlockIsShownButLeavesTheChannelAlone) {
    // 2400 x 2236 at 24 bits packs to 16,099,240 bytes.
    Channel().StoreStatus(CHANNEL_IDLE);
    TW_IMAGEINFO info = Info(24, 2400, 2236);
    HGLOBAL h = GlobalAlloc(GHND, 40 + static_cast<size_t>(7200) * 2236);
    BITMAPINFOHEADER header = DibHeader(2400, 2236, 24);
    std::memcpy(GlobalLock(h), &header, 40);
    GlobalUnlock(h);
    EXPECT_EQ(Publish(h, 24, info), PublishResult::TooLarge);
    ASSERT_EQ(documents.documents.size(), 1u);
    EXPECT_EQ(documents.documents[0]->image.m_nHeight, 2236);
    EXPECT_EQ(documents.documents[0]->updates, 1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_EQ(Channel().DataBlock()[0], 0xEE);
    EXPECT_EQ(Description().ImageWidth, 0);
    EXPECT_NE(std::string(PublishResultText(PublishResult::TooLarge)), "");
}

TEST_F(ImageHandoffTest, UnreadableOrUnexpandableImagesAreDroppedBeforeAWindowOrTheChannel) {
    Channel().StoreStatus(CHANNEL_IDLE);
    BITMAPINFOHEADER compressed = DibHeader(4, 4, 8);
    compressed.biCompression = BI_RLE8;
    EXPECT_EQ(Publish(MakePackedDib(compressed, std::vector<RGBQUAD>(256), {}), 8, Info(8, 4, 4)),
              PublishResult::Unreadable);
    // A 32-bit bitmap has no expansion, whatever its description says.
    EXPECT_EQ(Publish(MakePackedDib(DibHeader(2, 2, 32), {}, {}), 24, Info(24, 2, 2)),
              PublishResult::Unreadable);
    EXPECT_TRUE(documents.documents.empty());
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_EQ(Channel().DataBlock()[0], 0xEE);
}

// The client first: the page is in the channel before its document (and window) is
// made, and stays the client's when no document can be made.
TEST_F(ImageHandoffTest, TheClientHasThePageBeforeItsDocumentAndWithoutOne) {
    std::vector<int32_t> statusAtOpen;
    documents.onOpen = [&] { statusAtOpen.push_back(Channel().LoadStatus()); };
    TW_IMAGEINFO info;
    EXPECT_EQ(Publish(MakeChannelImage(1, 4, 4, &info), 24, info), PublishResult::Published);
    Channel().StoreStatus(CHANNEL_IDLE);
    documents.refuse = true;
    EXPECT_EQ(Publish(MakeChannelImage(2, 4, 4, &info), 24, info), PublishResult::Published);
    EXPECT_EQ(statusAtOpen, (std::vector<int32_t>{CHANNEL_IMAGE_READY, CHANNEL_IMAGE_READY}));
    EXPECT_EQ(Description().XResolution.Whole, 2);
    EXPECT_EQ(documents.documents.size(), 1u);
}

// The file a mapping of this process at `address` comes from ("" for none).
std::string MappedFileOf(const void* address) {
    std::ifstream maps("/proc/self/maps");
    const auto at = reinterpret_cast<uintptr_t>(address);
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        fields >> range >> perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, path);
        const size_t dash = range.find('-');
        const uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
        const uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (at >= start && at < end) return path;
    }
    return "";
}

// With a stream open and the hub's spare file ready, the page is decoded once, into
// the file the stream sends, and the document maps that file copy-on-write: the
// document's change stays its own, and the stream's page is whole after the
// document is gone.
TEST_F(ImageHandoffTest, TheDocumentAndTheStreamShareOnePageAndTheDocumentsChangesStayItsOwn) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const timeval limit{10, 0};  // a page never sent fails the test, not the suite's clock
    setsockopt(ends[1], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    StreamHub hub;
    std::shared_ptr<ImageStream> stream = hub.Add(ends[0], 2);
    std::thread sender([&] { stream->Run(); });
    std::vector<std::string> pages;
    for (int serial = 1; serial <= 2; ++serial) {
        // The first page has the hub prepare a spare file; the second is written into it.
        for (int waited = 0; serial == 2 && waited < 5000 && !hub.SpareReady(); ++waited)
            usleep(1000);
        TW_IMAGEINFO info;
        EXPECT_EQ(Publish(MakeChannelImage(serial, 5, 3, &info), 24, info, &hub),
                  PublishResult::Published);
        const CDIB& image = documents.documents.back()->Image();
        pages.emplace_back(static_cast<const char*>(image.m_pBlock),
                           static_cast<size_t>(image.GetDIBSize()));
        Channel().StoreStatus(CHANNEL_IDLE);
    }
    CDIB& shared = documents.documents.back()->Image();
    EXPECT_EQ(MappedFileOf(shared.m_pBlock).rfind("/memfd:velomark-image", 0), 0u);
    shared.m_pBits[0] ^= 0xFF;
    documents.documents.clear();
    for (const std::string& page : pages) EXPECT_TRUE(ReceiveImage(ends[1]) == page);
    sender.join();
    hub.Remove(stream);
    close(ends[0]);
    close(ends[1]);
}

}  // namespace
}  // namespace velomark
