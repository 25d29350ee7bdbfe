// The C interface over ClientChannel and the command socket.
#include "client/velomark_client.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "bridge/ChannelLayout.h"
#include "bridge/CommandSocketClient.h"
#include "bridge/CommandSocketPath.h"
#include "bridge/StreamWire.h"
#include "client/ClientChannel.h"
#include "client/ClientHandle.h"

namespace {

using velomark::CommandCallResult;
using Clock = std::chrono::steady_clock;

// How often a wait looks at the status word.
constexpr auto kStatusPollInterval = std::chrono::milliseconds(1);

// A list of sources larger than this is no list Velomark would send.
constexpr int64_t kLongestSourceList = 16 << 20;

// What is left of a time limit that runs from `start` (< 0: none).
int LeftOf(int timeoutMs, Clock::time_point start) {
    if (timeoutMs < 0) return -1;
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
}

velomark_result Fail(velomark_client* client, velomark_result result, std::string detail) {
    client->lastError = std::move(detail);
    return result;
}

velomark_result Succeed(velomark_client* client) {
    client->lastError.clear();
    return VELOMARK_OK;
}

velomark_result FromCall(velomark_client* client, CommandCallResult result,
                         const std::string& detail) {
    switch (result) {
        case CommandCallResult::Replied: return Succeed(client);
        case CommandCallResult::NotRunning: return Fail(client, VELOMARK_E_NOT_RUNNING, detail);
        case CommandCallResult::TimedOut: return Fail(client, VELOMARK_E_TIMEOUT, detail);
        default: return Fail(client, VELOMARK_E_SOCKET, detail);
    }
}

velomark_result Connect(velomark_client* client, velomark::CommandSocketClient& connection,
                        int timeoutMs) {
    if (client->socketPath.empty()) {
        std::string error;
        if (!velomark::CommandSocketPath::Resolve(client->socketPath, error))
            return Fail(client, VELOMARK_E_SOCKET, error);
    }
    return FromCall(client, connection.Connect(client->socketPath, timeoutMs),
                    connection.ErrorText());
}

// Polls the status word until `done` says so or the time is up.
template <typename Condition>
velomark_result WaitFor(velomark_client* client, int timeoutMs, Condition done, const char* what) {
    if (!client->channel.HasStatusWord())
        return Fail(client, VELOMARK_E_SECTION, "the status block holds no status word");
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(client->channel.LoadStatus())) {
        if (timeoutMs >= 0 && Clock::now() >= deadline)
            return Fail(client, VELOMARK_E_TIMEOUT,
                        std::string("timed out after ") + std::to_string(timeoutMs) +
                            " ms waiting for " + what);
        std::this_thread::sleep_for(kStatusPollInterval);
    }
    return Succeed(client);
}

velomark_result NeedImage(velomark_client* client, size_t& size) {
    if (client->channel.LoadStatus() != VELOMARK_STATUS_IMAGE_READY)
        return Fail(client, VELOMARK_E_NO_IMAGE, "no image is ready (the status word is not 5)");
    // Another client may have grown the section for a larger image.
    client->channel.RefreshData();
    std::string error;
    size = client->channel.PackedImageSize(error);
    if (size == 0) return Fail(client, VELOMARK_E_BAD_IMAGE, error);
    return Succeed(client);
}

// Sends one WM_COMMAND on a connected socket and turns the reply into a result.
velomark_result CallCommand(velomark_client* client, velomark::CommandSocketClient& connection,
                            uint16_t id, int post, int timeoutMs) {
    velomark::CommandRequest request;
    request.mode = post ? velomark::COMMAND_POST : velomark::COMMAND_SEND;
    request.wParam = id;
    int64_t reply = 0;
    CommandCallResult result = connection.Call(request, timeoutMs, reply);
    if (result != CommandCallResult::Replied)
        return FromCall(client, result, connection.ErrorText());
    if (reply != velomark::kCommandDispatched)
        return Fail(client, VELOMARK_E_REFUSED,
                    "Velomark refused command " + std::to_string(id) + " (disabled or unknown)");
    return Succeed(client);
}

}  // namespace

std::string& velomark::HandlelessError() {
    thread_local std::string error;
    return error;
}

extern "C" {

velomark_result velomark_open(velomark_client** client) {
    if (!client) return VELOMARK_E_ARGUMENT;
    *client = nullptr;
    velomark::HandlelessError().clear();
    auto* opened = new (std::nothrow) velomark_client;
    if (!opened) {
        velomark::HandlelessError() = "out of memory";
        return VELOMARK_E_MEMORY;
    }
    if (!opened->channel.Open(velomark::HandlelessError())) {
        delete opened;
        return VELOMARK_E_SECTION;
    }
    *client = opened;
    return VELOMARK_OK;
}

void velomark_close(velomark_client* client) { delete client; }

const char* velomark_result_text(velomark_result result) {
    switch (result) {
        case VELOMARK_OK: return "success";
        case VELOMARK_E_ARGUMENT: return "invalid argument";
        case VELOMARK_E_SECTION: return "the shared sections could not be opened";
        case VELOMARK_E_NOT_RUNNING: return "Velomark is not running";
        case VELOMARK_E_TIMEOUT: return "timed out";
        case VELOMARK_E_REFUSED: return "Velomark refused the command";
        case VELOMARK_E_SOCKET: return "the command socket failed";
        case VELOMARK_E_NO_IMAGE: return "no image is ready";
        case VELOMARK_E_BAD_IMAGE: return "the data block holds no valid image";
        case VELOMARK_E_BUFFER: return "the buffer is too small";
        case VELOMARK_E_TOO_LONG: return "the text is too long";
        case VELOMARK_E_MEMORY: return "out of memory";
        case VELOMARK_E_END: return "the acquisition ended";
        case VELOMARK_E_PROTOCOL: return "the stream broke its format";
        case VELOMARK_E_SERVER: return "Velomark ended the stream with an error";
    }
    return "unknown error";
}

const char* velomark_last_error(const velomark_client* client) {
    return client ? client->lastError.c_str() : velomark::HandlelessError().c_str();
}

const char* velomark_socket_path(const velomark_client* client) {
    if (!client) return "";
    auto* mutableClient = const_cast<velomark_client*>(client);
    if (mutableClient->socketPath.empty()) {
        std::string error;
        if (!velomark::CommandSocketPath::Resolve(mutableClient->socketPath, error))
            mutableClient->lastError = error;
    }
    return client->socketPath.c_str();
}

size_t velomark_data_size(const velomark_client* client) {
    return client ? client->channel.DataSize() : 0;
}

size_t velomark_status_size(const velomark_client* client) {
    return client ? client->channel.StatusSize() : 0;
}

velomark_result velomark_get_status(velomark_client* client, int32_t* status) {
    if (!client || !status) return VELOMARK_E_ARGUMENT;
    if (!client->channel.HasStatusWord())
        return Fail(client, VELOMARK_E_SECTION, "the status block holds no status word");
    *status = client->channel.LoadStatus();
    return Succeed(client);
}

velomark_result velomark_set_status(velomark_client* client, int32_t status) {
    if (!client) return VELOMARK_E_ARGUMENT;
    if (!client->channel.HasStatusWord())
        return Fail(client, VELOMARK_E_SECTION, "the status block holds no status word");
    client->channel.StoreStatus(status);
    return Succeed(client);
}

velomark_result velomark_request(velomark_client* client, int32_t request) {
    if (!client) return VELOMARK_E_ARGUMENT;
    if (request != VELOMARK_STATUS_SELECT_SOURCE && request != VELOMARK_STATUS_ACQUIRE)
        return Fail(
            client, VELOMARK_E_ARGUMENT,
            "a request is 1 (select source) or 2 (acquire), not " + std::to_string(request));
    return velomark_set_status(client, request);
}

velomark_result velomark_wait_status_change(velomark_client* client, int32_t value,
                                            int timeout_ms) {
    if (!client) return VELOMARK_E_ARGUMENT;
    return WaitFor(
        client, timeout_ms, [value](int32_t status) { return status != value; },
        "Velomark to take up the request");
}

velomark_result velomark_check_running(velomark_client* client, int timeout_ms) {
    if (!client) return VELOMARK_E_ARGUMENT;
    velomark::CommandSocketClient connection;
    return Connect(client, connection, timeout_ms);
}

velomark_result velomark_send_command(velomark_client* client, uint16_t id, int post,
                                      int timeout_ms) {
    if (!client) return VELOMARK_E_ARGUMENT;
    velomark::CommandSocketClient connection;
    velomark_result connected = Connect(client, connection, timeout_ms);
    if (connected != VELOMARK_OK) return connected;
    return CallCommand(client, connection, id, post, timeout_ms);
}

velomark_result velomark_command(velomark_client* client, const char* text, char* reply,
                                 size_t reply_size, int timeout_ms) {
    if (!client || !text || (!reply && reply_size > 0)) return VELOMARK_E_ARGUMENT;
    if (std::strlen(text) > VELOMARK_COMMAND_TEXT_MAX)
        return Fail(
            client, VELOMARK_E_TOO_LONG,
            "a command text has at most " + std::to_string(VELOMARK_COMMAND_TEXT_MAX) + " bytes");
    // Connected first, so that the data block is left as it was when nobody answers.
    velomark::CommandSocketClient connection;
    velomark_result connected = Connect(client, connection, timeout_ms);
    if (connected != VELOMARK_OK) return connected;
    velomark_result written = velomark_set_text(client, text);
    if (written != VELOMARK_OK) return written;
    velomark_result sent =
        CallCommand(client, connection, VELOMARK_ID_GET_DIB_BITES, 0, timeout_ms);
    if (sent != VELOMARK_OK) return sent;
    if (reply_size == 0) return Succeed(client);
    return velomark_get_text(client, reply, reply_size);
}

velomark_result velomark_wait_image(velomark_client* client, int timeout_ms) {
    if (!client) return VELOMARK_E_ARGUMENT;
    return WaitFor(
        client, timeout_ms, [](int32_t status) { return status == VELOMARK_STATUS_IMAGE_READY; },
        "an image");
}

velomark_result velomark_image_size(velomark_client* client, size_t* size) {
    if (!client || !size) return VELOMARK_E_ARGUMENT;
    return NeedImage(client, *size);
}

velomark_result velomark_copy_image(velomark_client* client, void* buffer, size_t buffer_size,
                                    size_t* size) {
    if (!client || !buffer) return VELOMARK_E_ARGUMENT;
    size_t imageSize = 0;
    velomark_result ready = NeedImage(client, imageSize);
    if (ready != VELOMARK_OK) return ready;
    if (size) *size = imageSize;
    if (buffer_size < imageSize)
        return Fail(client, VELOMARK_E_BUFFER,
                    "the image needs " + std::to_string(imageSize) + " bytes");
    std::memcpy(buffer, client->channel.Data(), imageSize);
    return Succeed(client);
}

velomark_result velomark_grow_data(velomark_client* client, size_t bytes) {
    if (!client) return VELOMARK_E_ARGUMENT;
    std::string error;
    if (!client->channel.GrowData(bytes, error)) return Fail(client, VELOMARK_E_SECTION, error);
    return Succeed(client);
}

velomark_result velomark_copy_image_info(velomark_client* client,
                                         unsigned char info[VELOMARK_IMAGE_INFO_SIZE]) {
    if (!client || !info) return VELOMARK_E_ARGUMENT;
    if (client->channel.StatusSize() < velomark::kImageInfoOffset + VELOMARK_IMAGE_INFO_SIZE)
        return Fail(client, VELOMARK_E_SECTION, "the status block is too small for a description");
    std::memcpy(info, client->channel.Status() + velomark::kImageInfoOffset,
                VELOMARK_IMAGE_INFO_SIZE);
    return Succeed(client);
}

velomark_result velomark_acknowledge(velomark_client* client) {
    return velomark_set_status(client, VELOMARK_STATUS_IDLE);
}

velomark_result velomark_get_text(velomark_client* client, char* buffer, size_t buffer_size) {
    if (!client || !buffer || buffer_size == 0) return VELOMARK_E_ARGUMENT;
    const unsigned char* data = client->channel.Data();
    const size_t limit = client->channel.DataSize();
    size_t length = 0;
    while (length < limit && length + 1 < buffer_size && data[length] != 0) {
        buffer[length] = static_cast<char>(data[length]);
        ++length;
    }
    buffer[length] = 0;
    if (length < limit && data[length] != 0)
        return Fail(client, VELOMARK_E_BUFFER, "the text was cut to the buffer's size");
    return Succeed(client);
}

velomark_result velomark_set_text(velomark_client* client, const char* text) {
    if (!client || !text) return VELOMARK_E_ARGUMENT;
    const size_t length = std::strlen(text);
    if (length + 1 > client->channel.DataSize())
        return Fail(client, VELOMARK_E_TOO_LONG,
                    "the text needs " + std::to_string(length + 1) + " bytes, the data block has " +
                        std::to_string(client->channel.DataSize()));
    std::memcpy(client->channel.Data(), text, length + 1);
    return Succeed(client);
}

velomark_result velomark_devices(velomark_client* client, char** json, int timeout_ms) {
    if (!client || !json) return VELOMARK_E_ARGUMENT;
    *json = nullptr;
    const Clock::time_point start = Clock::now();
    velomark::CommandSocketClient connection;
    velomark_result connected = Connect(client, connection, timeout_ms);
    if (connected != VELOMARK_OK) return connected;
    velomark::CommandRequest request;
    request.message = velomark::kSourcesMessage;
    int64_t length = 0;
    CommandCallResult called = connection.Call(request, LeftOf(timeout_ms, start), length);
    if (called != CommandCallResult::Replied)
        return FromCall(client, called, connection.ErrorText());
    if (length == velomark::kCommandRefused)
        return Fail(client, VELOMARK_E_REFUSED,
                    "Velomark refused to list its sources (no TWAIN driver?)");
    if (length <= 0 || length > kLongestSourceList)
        return Fail(client, VELOMARK_E_PROTOCOL,
                    "Velomark announced a list of sources of " + std::to_string(length) + " bytes");
    auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (!text) return Fail(client, VELOMARK_E_MEMORY, "out of memory");
    const int fd = connection.Release();
    const velomark::IoResult io = velomark::CommandSocketWire::ReadExact(
        fd, text, static_cast<size_t>(length), LeftOf(timeout_ms, start));
    close(fd);
    if (io != velomark::IoResult::Done) {
        std::free(text);
        if (io == velomark::IoResult::TimedOut)
            return Fail(client, VELOMARK_E_TIMEOUT, "the list of sources did not come in time");
        return Fail(client,
                    io == velomark::IoResult::Closed ? VELOMARK_E_PROTOCOL : VELOMARK_E_SOCKET,
                    "the list of sources stopped before its " + std::to_string(length) + " bytes");
    }
    text[length] = 0;
    // A C string cannot carry a NUL, and a JSON document never holds one.
    if (std::strlen(text) != static_cast<size_t>(length)) {
        std::free(text);
        return Fail(client, VELOMARK_E_PROTOCOL, "the list of sources holds a NUL byte");
    }
    *json = text;
    return Succeed(client);
}

void velomark_free_text(char* text) { std::free(text); }

}  // extern "C"
