// Tickets and the list of sources on the wire, against a scripted server: the
// 0x8002 frame and its ticket bytes, the stream that follows, the 0x8003 document;
// then velomark-client's devices table and its ticketed acquire.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "bridge/CommandSocketWire.h"
#include "client/velomark_client.h"
#include "tests/ProgramRun.h"
#include "tests/client/ClientTestFixture.h"
#include "tests/client/ScriptedServer.h"

namespace velomark::testing {
namespace {

const std::string kSources =
    R"({"sources":[{"name":"Velomark Test Chart","manufacturer":"Velomark","default":true,)"
    R"("inputs":["flatbed","feeder","duplex"],"colors":["bw","gray","rgb"],)"
    R"("resolutions":{"min":25,"max":1200,"step":1},"bed":{"width":10200,"height":13200},)"
    R"("feeder_loaded":true,"later":{"members":[1,2]}},)"
    R"({"name":"Caf\u00e9 Flatbed","inputs":[],"colors":["gray"],)"
    R"("resolutions":{"list":[75,150,300]}},)"
    R"({"name":"Unplugged","error":"the source could not be opened"}]})";

// What the scripted server received: the request frame and the bytes after it.
struct Received {
    CommandRequest request;
    std::string ticket;
};

std::vector<unsigned char> Reply(int64_t value) {
    std::vector<unsigned char> bytes(kCommandReplySize);
    CommandSocketWire::EncodeReply(value, bytes.data());
    return bytes;
}

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

// Serves one request on the listener (passing over connections that only check
// Velomark is there): reads the frame and, for 0x8002, its lParam ticket bytes,
// then lets `answer` send what the test scripts.
std::thread ServeOne(int listener, Received& received, std::function<void(int)> answer) {
    return std::thread([listener, &received, answer] {
        for (;;) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            unsigned char frame[kCommandRequestSize];
            if (recv(fd, frame, sizeof(frame), MSG_WAITALL) != sizeof(frame)) {
                close(fd);
                continue;
            }
            received.request = CommandSocketWire::DecodeRequest(frame);
            if (received.request.message == 0x8002 && received.request.lParam <= 4096) {
                received.ticket.resize(received.request.lParam);
                EXPECT_EQ(recv(fd, received.ticket.data(), received.ticket.size(), MSG_WAITALL),
                          static_cast<ssize_t>(received.ticket.size()));
            }
            answer(fd);
            close(fd);
            return;
        }
    });
}

class TicketWireTest : public ClientTestFixture {
protected:
    void SetUp() override {
        ClientTestFixture::SetUp();
        m_listener = ListenAt(SocketPath());
        ASSERT_EQ(velomark_open(&m_client), VELOMARK_OK);
        velomark_ticket_init(&m_ticket);
        m_ticket.input = VELOMARK_INPUT_FEEDER;
        m_ticket.color = VELOMARK_COLOR_GRAY;
        m_ticket.x_resolution = 150;
    }
    void EndPrograms() override {
        velomark_close(m_client);
        close(m_listener);
    }

    int m_listener = -1;
    velomark_client* m_client = nullptr;
    velomark_ticket m_ticket;
};

TEST_F(TicketWireTest, ATicketedStreamSendsItsFrameAndTicketThenReadsTheJobsPages) {
    Received received;
    std::thread server = ServeOne(m_listener, received, [](int fd) {
        SendWith(fd, Reply(0), {});
        SendWith(fd, Header(kStreamMagic, 56), {ImageFile(true)});
        SendWith(fd, Header(kStreamMagic, 0, STREAM_END, 1), {});
    });
    velomark_stream* stream = nullptr;
    ASSERT_EQ(velomark_stream_open_ticket(m_client, &m_ticket, 2, &stream), VELOMARK_OK)
        << velomark_last_error(m_client);
    velomark_image* image = nullptr;
    ASSERT_EQ(velomark_stream_next(stream, &image, 5000), VELOMARK_OK)
        << velomark_last_error(m_client);
    EXPECT_EQ(image->width, 0) << "the scripted header describes nothing";
    EXPECT_EQ(image->size, 56u);
    velomark_image_release(image);
    EXPECT_EQ(velomark_stream_next(stream, &image, 5000), VELOMARK_E_END);
    EXPECT_STREQ(velomark_stream_error(stream), "");
    velomark_stream_close(stream);
    server.join();

    const std::string ticket = "input=feeder\ncolor=gray\nresolution=150\nui=0\n";
    EXPECT_EQ(received.request.message, 0x8002u);
    EXPECT_EQ(received.request.mode, 0u);
    EXPECT_EQ(received.request.wParam, 2u);
    EXPECT_EQ(received.request.lParam, ticket.size());
    EXPECT_EQ(received.ticket, ticket);
}

TEST_F(TicketWireTest, AJobThatCannotRunEndsWithVelomarksSentenceAndARefusalIsARefusal) {
    const std::string sentence = "the source has no document feeder";
    Received received;
    std::thread server = ServeOne(m_listener, received, [&](int fd) {
        SendWith(fd, Reply(0), {});
        SendWith(fd, Header(kStreamMagic, sentence.size(), STREAM_ERROR, 0), {});
        SendWith(fd, Bytes(sentence), {});
    });
    velomark_stream* stream = nullptr;
    ASSERT_EQ(velomark_stream_open_ticket(m_client, &m_ticket, 0, &stream), VELOMARK_OK);
    velomark_image* image = nullptr;
    EXPECT_EQ(velomark_stream_next(stream, &image, 5000), VELOMARK_E_SERVER);
    EXPECT_EQ(velomark_stream_error(stream), sentence);
    velomark_stream_close(stream);
    server.join();

    server = ServeOne(m_listener, received, [](int fd) { SendWith(fd, Reply(-1), {}); });
    EXPECT_EQ(velomark_stream_open_ticket(m_client, &m_ticket, 0, &stream), VELOMARK_E_REFUSED);
    EXPECT_EQ(stream, nullptr);
    server.join();

    // A ticket that cannot be written never reaches Velomark.
    m_ticket.ui = 7;
    EXPECT_EQ(velomark_stream_open_ticket(m_client, &m_ticket, 0, &stream), VELOMARK_E_ARGUMENT);
    EXPECT_NE(std::string(velomark_last_error(m_client)).find("ui 7"), std::string::npos);
}

TEST_F(TicketWireTest, TheListOfSourcesComesAsItWasSentOrAsAClearError) {
    Received received;
    std::thread server = ServeOne(m_listener, received, [](int fd) {
        std::vector<unsigned char> answer = Reply(static_cast<int64_t>(kSources.size()));
        answer.insert(answer.end(), kSources.begin(), kSources.end());
        SendWith(fd, answer, {});
    });
    char* json = nullptr;
    ASSERT_EQ(velomark_devices(m_client, &json, 5000), VELOMARK_OK)
        << velomark_last_error(m_client);
    EXPECT_EQ(json, kSources);
    velomark_free_text(json);
    server.join();
    EXPECT_EQ(received.request.message, 0x8003u);
    EXPECT_EQ(received.request.mode, 0u);
    EXPECT_EQ(received.request.wParam, 0u);
    EXPECT_EQ(received.request.lParam, 0u);

    struct Case {
        const char* name;
        std::function<void(int)> answer;
        velomark_result result;
    };
    const std::vector<Case> cases = {
        {"refused", [](int fd) { SendWith(fd, Reply(-1), {}); }, VELOMARK_E_REFUSED},
        {"cut short",
         [](int fd) {
             std::vector<unsigned char> answer = Reply(100);
             answer.resize(answer.size() + 10, '{');
             SendWith(fd, answer, {});
         },
         VELOMARK_E_PROTOCOL},
        {"absurd length", [](int fd) { SendWith(fd, Reply(int64_t{1} << 40), {}); },
         VELOMARK_E_PROTOCOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server = ServeOne(m_listener, received, c.answer);
        json = reinterpret_cast<char*>(1);
        EXPECT_EQ(velomark_devices(m_client, &json, 5000), c.result);
        EXPECT_EQ(json, nullptr);
        EXPECT_STRNE(velomark_last_error(m_client), "");
        server.join();
    }
}

TEST_F(TicketWireTest, TheCommandLineShowsTheSourcesAsATableOrAsTheDocument) {
    Received received;
    auto answerSources = [](int fd) {
        std::vector<unsigned char> answer = Reply(static_cast<int64_t>(kSources.size()));
        answer.insert(answer.end(), kSources.begin(), kSources.end());
        SendWith(fd, answer, {});
    };
    std::thread server = ServeOne(m_listener, received, answerSources);
    ProgramOutput table = RunProgram({VELOMARK_CLIENT_PATH, "devices"});
    server.join();
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(table.out,
              "SOURCE                         INPUTS                 MODES          DPI        "
              " BED (mm)\n"
              "Velomark Test Chart (default)  flatbed,feeder,duplex  bw,gray,color  25-1200    "
              " 215.9 x 279.4\n"
              "Caf\xC3\xA9 Flatbed                   auto                   gray           "
              "75,150,300  -\n"
              "Unplugged                      error: the source could not be opened\n");

    server = ServeOne(m_listener, received, answerSources);
    ProgramOutput document = RunProgram({VELOMARK_CLIENT_PATH, "devices", "--json"});
    server.join();
    EXPECT_EQ(document.exitCode, 0) << document.err;
    EXPECT_EQ(document.out, kSources + "\n");

    server = ServeOne(m_listener, received, [](int fd) {
        const std::string broken = R"({"sources":[{"name":"A"})";
        std::vector<unsigned char> answer = Reply(static_cast<int64_t>(broken.size()));
        answer.insert(answer.end(), broken.begin(), broken.end());
        SendWith(fd, answer, {});
    });
    ProgramOutput malformed = RunProgram({VELOMARK_CLIENT_PATH, "devices"});
    server.join();
    EXPECT_EQ(malformed.exitCode, 1);
    EXPECT_NE(malformed.err.find("not JSON"), std::string::npos) << malformed.err;
}

TEST_F(TicketWireTest, ASettingTheSourceCannotTakeExitsTwoWithVelomarksSentence) {
    const std::string sentence = "the source cannot scan grey";
    Received received;
    std::thread server = ServeOne(m_listener, received, [&](int fd) {
        SendWith(fd, Reply(0), {});
        SendWith(fd, Header(kStreamMagic, sentence.size(), STREAM_ERROR, 0), {});
        SendWith(fd, Bytes(sentence), {});
    });
    ProgramOutput run =
        RunProgram({VELOMARK_CLIENT_PATH, "acquire", "--stream", "--source", "flatbed", "--mode",
                    "gray", "--area", "10,20.5,100,50", "-n", "2", "-o", Folder() + "/out"});
    server.join();
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(sentence), std::string::npos) << run.err;
    EXPECT_EQ(received.request.message, 0x8002u);
    EXPECT_EQ(received.request.wParam, 2u);
    EXPECT_EQ(received.ticket,
              "input=flatbed\ncolor=gray\narea=472,969,4724,2362\npages=2\nui=0\n");
}

}  // namespace
}  // namespace velomark::testing
