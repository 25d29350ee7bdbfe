// The two sections, which any process of the user can write: the input sizes and
// fills them, then runs a sequence of the channel's operations (command text,
// status-word poll, GetSharedMem/SetSharedMem) between a client's writes, resizes
// included.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "bridge/ChannelActions.h"
#include "bridge/ChannelLayout.h"
#include "bridge/ChannelRequests.h"
#include "bridge/SharedChannel.h"
#include "bridge/SharedMemExports.h"
#include "fuzz/FuzzInput.h"

namespace {

using velomark::SharedChannel;

struct FuzzActions : velomark::ChannelActions {
    bool running = false;
    BOOL SelectSource() override { return TRUE; }
    BOOL Acquire(int) override { return TRUE; }
    bool AcquisitionRunning() const override { return running; }
};

// A section as a hostile client holds it: created here, any size, any content.
struct ClientSection {
    std::string name;
    int fd = -1;

    ClientSection(const char* baseName, size_t size, const uint8_t* fill, size_t fillBytes)
        : name("/" + velomark::ChannelSectionName(baseName)) {
        shm_unlink(name.c_str());
        fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0) std::abort();
        Resize(size);
        Write(0, fill, fillBytes);
    }
    ~ClientSection() {
        shm_unlink(name.c_str());
        close(fd);
    }
    void Resize(size_t size) {
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
    }
    void Write(size_t offset, const uint8_t* bytes, size_t size) {
        if (size > 0 && pwrite(fd, bytes, size, static_cast<off_t>(offset)) < 0) std::abort();
    }
};

// Sizes stay small: large ones show nothing new and slow every run.
size_t SectionSize(FuzzInput& input, size_t atLeast) {
    return atLeast + input.Take<uint16_t>() % 8192;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string suffix = "-fuzz" + std::to_string(getpid());
    setenv("VELOMARK_CHANNEL_SUFFIX", suffix.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t dataSize = SectionSize(input, 1);
    const size_t statusSize = SectionSize(input, 1) % 256 + 1;
    size_t fillBytes = 0;
    const uint8_t* fill = input.Bytes(input.Take<uint16_t>() % 1024, &fillBytes);
    ClientSection dataSection(velomark::kDataSectionName, dataSize, fill, fillBytes);
    ClientSection statusSection(velomark::kStatusSectionName, statusSize, fill, fillBytes % 84);

    SharedChannel& channel = SharedChannel::Instance();
    channel.Open();
    FuzzActions actions;
    char text[512];
    while (input.Left() > 0) {
        switch (input.Take<uint8_t>() % 10) {
            case 0: velomark::HandleCommandText(channel, actions); break;
            case 1: velomark::PollChannel(channel, actions); break;
            case 2: GetSharedMem(text, input.Take<uint8_t>() % (sizeof text + 1)); break;
            case 3: {
                size_t n = 0;
                const uint8_t* bytes = input.Bytes(input.Take<uint16_t>() % sizeof text, &n);
                std::string written(reinterpret_cast<const char*>(bytes), n);
                SetSharedMem(written.c_str());
                break;
            }
            case 4: dataSection.Resize(input.Take<uint16_t>() % 8192); break;
            case 5: statusSection.Resize(input.Take<uint8_t>()); break;
            case 6: {
                const size_t offset = input.Take<uint16_t>() % 8192;
                size_t n = 0;
                const uint8_t* bytes = input.Bytes(input.Take<uint8_t>(), &n);
                dataSection.Write(offset, bytes, n);
                break;
            }
            case 7: {
                const int32_t status = input.Take<int32_t>();
                statusSection.Write(0, reinterpret_cast<const uint8_t*>(&status), sizeof status);
                break;
            }
            case 8: channel.RefreshDataBlock(); break;
            case 9: actions.running = !actions.running; break;
        }
    }
    channel.Close();
    return 0;
}
