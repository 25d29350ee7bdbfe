// libvelomark-client in this process: the sections' lifetime and zeroing, the
// checks on what the data block claims, the texts, and a whole exchange with the
// stand-in Velomark.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "bridge/ChannelLayout.h"
#include "client/velomark_client.h"
#include "platform/FileMapping.h"
#include "tests/client/ChildProcess.h"
#include "tests/client/ClientTestFixture.h"
#include "tests/client/SyntheticImage.h"

namespace velomark::testing {
namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

class ClientLibraryTest : public ClientTestFixture {
protected:
    void EndPrograms() override {
        velomark_close(m_client);
        m_client = nullptr;
        if (m_smallSection) CloseHandle(m_smallSection);
        m_smallSection = nullptr;
    }
    void Open() {
        ASSERT_EQ(velomark_open(&m_client), VELOMARK_OK) << velomark_last_error(nullptr);
    }

    // Makes the data section before the client does, smaller than usual, with
    // `bytes` at its start, and leaves status 5 in a normal status section.
    void PrepareSmallDataSection(size_t size, const std::vector<unsigned char>& bytes) {
        const std::string name = ChannelSectionName(kDataSectionName);
        m_smallSection = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            static_cast<DWORD>(size), name.c_str());
        ASSERT_NE(m_smallSection, nullptr);
        void* view = MapViewOfFile(m_smallSection, FILE_MAP_WRITE, 0, 0, 0);
        ASSERT_NE(view, nullptr);
        if (!bytes.empty()) std::memcpy(view, bytes.data(), std::min(bytes.size(), size));
        UnmapViewOfFile(view);
        Open();
        ASSERT_EQ(velomark_set_status(m_client, VELOMARK_STATUS_IMAGE_READY), VELOMARK_OK);
    }

    velomark_client* m_client = nullptr;
    HANDLE m_smallSection = nullptr;
};

TEST_F(ClientLibraryTest, SectionsAreCreatedZeroedSharedAndRemovedByTheLastUser) {
    Open();
    EXPECT_EQ(velomark_data_size(m_client), kChannelBlockSize);
    EXPECT_EQ(velomark_status_size(m_client), kChannelBlockSize);
    EXPECT_TRUE(Exists(SectionFile(kDataSectionName)));
    EXPECT_TRUE(Exists(SectionFile(kStatusSectionName)));
    int32_t status = -1;
    ASSERT_EQ(velomark_get_status(m_client, &status), VELOMARK_OK);
    EXPECT_EQ(status, 0);

    // A second user finds what the first left: nothing is zeroed again.
    ASSERT_EQ(velomark_set_text(m_client, "kept"), VELOMARK_OK);
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    velomark_client* second = nullptr;
    ASSERT_EQ(velomark_open(&second), VELOMARK_OK);
    char text[16];
    EXPECT_EQ(velomark_get_text(second, text, sizeof(text)), VELOMARK_OK);
    EXPECT_STREQ(text, "kept");
    ASSERT_EQ(velomark_get_status(second, &status), VELOMARK_OK);
    EXPECT_EQ(status, VELOMARK_STATUS_ACQUIRE);

    velomark_close(m_client);
    m_client = nullptr;
    EXPECT_TRUE(Exists(SectionFile(kDataSectionName))) << "the second user still has it open";
    velomark_close(second);
    EXPECT_FALSE(Exists(SectionFile(kDataSectionName)));
    EXPECT_FALSE(Exists(SectionFile(kStatusSectionName)));
}

TEST_F(ClientLibraryTest, RequestsAreOnlyTheTwoRequestCodes) {
    Open();
    EXPECT_EQ(velomark_request(m_client, VELOMARK_STATUS_IMAGE_READY), VELOMARK_E_ARGUMENT);
    EXPECT_EQ(velomark_request(m_client, 0), VELOMARK_E_ARGUMENT);
    EXPECT_NE(std::string(velomark_last_error(m_client)), "");
    int32_t status = -1;
    velomark_get_status(m_client, &status);
    EXPECT_EQ(status, 0);
}

TEST_F(ClientLibraryTest, AnImageHeaderClaimingMoreThanTheSectionIsRefused) {
    std::vector<unsigned char> dib = SyntheticImage::PackedResult(0, 8);
    const size_t small = 4096;
    ASSERT_LT(dib.size(), small);
    dib[8] = 100;  // 100 rows of 112 bytes: past the end of the section
    dib[9] = 0;
    PrepareSmallDataSection(small, dib);
    EXPECT_EQ(velomark_data_size(m_client), small);
    size_t size = 0;
    EXPECT_EQ(velomark_image_size(m_client, &size), VELOMARK_E_BAD_IMAGE);
    std::vector<unsigned char> buffer(dib.size());
    EXPECT_EQ(velomark_copy_image(m_client, buffer.data(), buffer.size(), &size),
              VELOMARK_E_BAD_IMAGE);
    EXPECT_NE(std::string(velomark_last_error(m_client)).find("claims"), std::string::npos);
}

TEST_F(ClientLibraryTest, OnlyPacked24BitImagesAreCopiedOut) {
    std::vector<unsigned char> dib = SyntheticImage::PackedResult(1, 24);
    struct Corruption {
        size_t offset;
        unsigned char value;
    };
    for (Corruption bad : {Corruption{0, 12}, Corruption{14, 8}, Corruption{12, 2},
                           Corruption{16, 1}, Corruption{7, 0x80}, Corruption{11, 0x80}}) {
        std::vector<unsigned char> changed = dib;
        changed[bad.offset] = bad.value;
        PrepareSmallDataSection(65536, changed);
        size_t size = 0;
        EXPECT_EQ(velomark_image_size(m_client, &size), VELOMARK_E_BAD_IMAGE) << bad.offset;
        velomark_close(m_client);
        m_client = nullptr;
        CloseHandle(m_smallSection);
        m_smallSection = nullptr;
    }
    // The unchanged image in a section just large enough is taken whole.
    PrepareSmallDataSection(dib.size(), dib);
    std::vector<unsigned char> copy(dib.size() - 1);
    size_t size = 0;
    EXPECT_EQ(velomark_copy_image(m_client, copy.data(), copy.size(), &size), VELOMARK_E_BUFFER);
    EXPECT_EQ(size, dib.size());
    copy.resize(dib.size());
    ASSERT_EQ(velomark_copy_image(m_client, copy.data(), copy.size(), &size), VELOMARK_OK);
    EXPECT_EQ(copy, dib);
    ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    EXPECT_EQ(velomark_image_size(m_client, &size), VELOMARK_E_NO_IMAGE);
}

TEST_F(ClientLibraryTest, TextsStayInsideTheBufferAndTheSection) {
    PrepareSmallDataSection(4096, {});
    EXPECT_EQ(velomark_set_text(m_client, std::string(4095, 'a').c_str()), VELOMARK_OK);
    EXPECT_EQ(velomark_set_text(m_client, std::string(4096, 'b').c_str()), VELOMARK_E_TOO_LONG);
    char small[5];
    EXPECT_EQ(velomark_get_text(m_client, small, sizeof(small)), VELOMARK_E_BUFFER);
    EXPECT_STREQ(small, "aaaa");
    std::vector<char> whole(8192);
    EXPECT_EQ(velomark_get_text(m_client, whole.data(), whole.size()), VELOMARK_OK);
    EXPECT_EQ(std::string(whole.data()), std::string(4095, 'a'))
        << "the refused text changed nothing";
}

TEST_F(ClientLibraryTest, WithoutVelomarkCommandsFailAndLeaveTheDataBlock) {
    Open();
    ASSERT_EQ(velomark_set_text(m_client, "earlier"), VELOMARK_OK);
    char reply[64];
    EXPECT_EQ(velomark_command(m_client, "OnFileAcquire", reply, sizeof(reply), 500),
              VELOMARK_E_NOT_RUNNING);
    EXPECT_EQ(velomark_check_running(m_client, 500), VELOMARK_E_NOT_RUNNING);
    EXPECT_STREQ(velomark_socket_path(m_client), SocketPath().c_str());
    velomark_get_text(m_client, reply, sizeof(reply));
    EXPECT_STREQ(reply, "earlier");
    EXPECT_EQ(velomark_wait_image(m_client, 30), VELOMARK_E_TIMEOUT);
}

TEST_F(ClientLibraryTest, AcquiresImagesWithTheirDescriptionsFromVelomark) {
    FakeVelomark velomark;
    std::string error;
    ASSERT_TRUE(velomark.Start({"--images", "2", "--bits", "8"}, error)) << error;
    Open();
    EXPECT_EQ(velomark_check_running(m_client, 2000), VELOMARK_OK);
    char reply[64];
    ASSERT_EQ(velomark_command(m_client, "OnFileAcquire", reply, sizeof(reply), 5000), VELOMARK_OK)
        << velomark_last_error(m_client);
    EXPECT_STREQ(reply, "Wait For OnFileAcquire");
    for (int image = 0; image < 2; ++image) {
        ASSERT_EQ(velomark_wait_image(m_client, 5000), VELOMARK_OK);
        std::vector<unsigned char> expected = SyntheticImage::PackedResult(image, 8);
        std::vector<unsigned char> copy(kChannelBlockSize);
        size_t size = 0;
        ASSERT_EQ(velomark_copy_image(m_client, copy.data(), copy.size(), &size), VELOMARK_OK);
        ASSERT_EQ(size, expected.size());
        EXPECT_TRUE(SyntheticImage::SamePixels(copy.data() + 40, size - 40, image, 8));
        EXPECT_EQ(std::memcmp(copy.data() + 4, expected.data() + 4, 12), 0) << "size, planes, bits";
        unsigned char info[VELOMARK_IMAGE_INFO_SIZE];
        ASSERT_EQ(velomark_copy_image_info(m_client, info), VELOMARK_OK);
        EXPECT_EQ(info[0] | info[1] << 8, 300);                     // XResolution.Whole
        EXPECT_EQ(info[8] | info[9] << 8, SyntheticImage::kWidth);  // ImageWidth
        EXPECT_EQ(info[34] | info[35] << 8, 8);                     // BitsPerPixel
        EXPECT_EQ(info[38] | info[39] << 8, 3);                     // PixelType: palette
        ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    }
    EXPECT_EQ(velomark_send_command(m_client, 1234, 0, 2000), VELOMARK_E_REFUSED);
    EXPECT_EQ(velomark_send_command(m_client, 1234, 1, 2000), VELOMARK_OK)
        << "a post is not judged";
}

}  // namespace
}  // namespace velomark::testing
