// The bytes that Velomark and a client share: the two section names, their size,
// the status word's codes and where the image description lies. Plain constants,
// included by the program's bridge and by the client library alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace velomark {

// Both sections have this size (hexadecimal F59B00).
constexpr size_t kChannelBlockSize = 16096000;

constexpr const char* kDataSectionName = "dllmemfilemap";
constexpr const char* kStatusSectionName = "dllmemfilemapStatus";

// The status word at offset 0 of the status block, a little-endian int32.
enum ChannelStatus : int32_t {
    CHANNEL_IDLE = 0,
    CHANNEL_SELECT_SOURCE = 1,
    CHANNEL_ACQUIRE = 2,
    CHANNEL_IMAGE_READY = 5,
};

constexpr size_t kStatusWordOffset = 0;
// The 42-byte TW_IMAGEINFO of the last image placed in the data block.
constexpr size_t kImageInfoOffset = 4;
constexpr size_t kImageInfoSize = 42;
// Bytes of the status block that Velomark zeroes when it creates the section.
constexpr size_t kStatusZeroedBytes = 80;

// Longest command text that the command handler reads from the data block.
constexpr size_t kCommandTextMax = 259;

// The command id that makes Velomark read the command text.
constexpr uint16_t ID_GET_DIB_BITES = 32783;

constexpr const char* kSelectSourceCommand = "OnSelectDataSource";
constexpr const char* kAcquireCommand = "OnFileAcquire";
constexpr const char* kSelectSourceReply = "Wait For OnFileSelectsource";
constexpr const char* kAcquireReply = "Wait For OnFileAcquire";

// The section name with the test-only suffix from VELOMARK_CHANNEL_SUFFIX (unset in
// normal use), so that tests can run their own channel beside a real one.
inline std::string ChannelSectionName(const char* baseName) {
    const char* suffix = std::getenv("VELOMARK_CHANNEL_SUFFIX");
    return std::string(baseName) + (suffix ? suffix : "");
}

}  // namespace velomark
