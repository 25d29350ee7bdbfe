// The command socket's byte format: a 24-byte request and an 8-byte reply, both
// little-endian, plus the blocking reads and writes with a time limit that the
// server and the client share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velomark {

// The only message the main frame takes over the socket.
constexpr uint32_t kWmCommand = 0x0111;

// How the sender waits: for the handler to have run, or only for the hand-over.
enum CommandMode : uint32_t {
    COMMAND_SEND = 0,
    COMMAND_POST = 1,
};

constexpr size_t kCommandRequestSize = 24;
constexpr size_t kCommandReplySize = 8;

// The replies: the command was dispatched, or it was refused (unknown message,
// disabled command, server stopping).
constexpr int64_t kCommandDispatched = 0;
constexpr int64_t kCommandRefused = -1;

struct CommandRequest {
    uint32_t message = kWmCommand;
    uint32_t mode = COMMAND_SEND;
    uint64_t wParam = 0;  // the low 16 bits are the command id
    uint64_t lParam = 0;  // must be 0
};

enum class IoResult {
    Done,
    Closed,  // the peer closed before all bytes came (or went)
    TimedOut,
    Failed,  // errno tells why
};

class CommandSocketWire {
public:
    static void EncodeRequest(const CommandRequest& request, unsigned char* out);
    static CommandRequest DecodeRequest(const unsigned char* in);
    static void EncodeReply(int64_t reply, unsigned char* out);
    static int64_t DecodeReply(const unsigned char* in);

    // Whether the server refuses to read on: a mode it does not know or an lParam.
    static bool IsMalformed(const CommandRequest& request);
    static uint16_t CommandId(const CommandRequest& request) {
        return static_cast<uint16_t>(request.wParam & 0xFFFF);
    }

    // Reads or writes exactly `size` bytes; timeoutMs < 0 waits as long as it takes.
    // The time limit holds for the whole transfer, not for each piece.
    static IoResult ReadExact(int fd, void* buffer, size_t size, int timeoutMs);
    static IoResult WriteAll(int fd, const void* buffer, size_t size, int timeoutMs);
};

}  // namespace velomark
