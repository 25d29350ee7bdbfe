#include "bridge/CommandServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

#include "bridge/CommandSocketClient.h"
#include "bridge/CommandSocketPath.h"
#include "bridge/CommandSocketWire.h"
#include "bridge/ImageStream.h"
#include "res/ResourceIds.h"

namespace velomark {

namespace {

// How long a reply may take to go out before the reader gives the client up.
constexpr int kReplyWriteTimeoutMs = 5000;
// Connections served at once; one more is closed at once (each holds a thread).
constexpr size_t kMaxConnections = 64;
// How long Start waits for an existing socket's owner to accept before deciding.
constexpr int kProbeTimeoutMs = 1000;

// What outlives the server: the tasks queued to the UI thread hold it, so a task
// that runs after Stop finds `target` cleared instead of a freed object.
struct SharedState {
    std::mutex mutex;  // guards stopping and every PendingReply
    std::condition_variable changed;
    bool stopping = false;
    // Held while the target runs a command, so that Stop (from any thread) waits
    // for a running command before it clears the target. Recursive, because a
    // command may itself stop the server.
    std::recursive_mutex targetMutex;
    CommandTarget* target = nullptr;
};

struct PendingReply {
    bool finished = false;
    bool executed = false;
};

struct PendingStream {
    bool finished = false;
    std::shared_ptr<ImageStream> stream;
};

struct Connection {
    int fd = -1;
    std::thread reader;
    bool finished = false;  // under the server's connections mutex
};

}  // namespace

struct CommandServer::Running {
    std::shared_ptr<SharedState> shared = std::make_shared<SharedState>();
    // The readers' own view of the target: valid until Stop has joined them.
    CommandTarget* target = nullptr;
    StreamHub* streams = nullptr;
    int listenFd = -1;
    int wakeFds[2] = {-1, -1};
    dev_t socketDevice = 0;
    ino_t socketInode = 0;
    std::thread acceptor;
    std::mutex connectionsMutex;
    std::list<Connection> connections;
    bool closing = false;  // under connectionsMutex: no new connections

    void AcceptLoop();
    void Serve(Connection& connection);
    int64_t Dispatch(const CommandRequest& request);
    std::shared_ptr<ImageStream> OpenStream(const CommandRequest& request, int fd);
    std::shared_ptr<ImageStream> OpenJobStream(const CommandRequest& request,
                                               const std::string& ticket, int fd);
    // Runs `call` on the UI thread and waits for it; `refused` when the server stops
    // first or the target is gone.
    template <class Result>
    Result OnUiThread(std::function<Result(CommandTarget&)> call, Result refused);
    // Serves one stream on the connection until it ends; false when the connection
    // is to be closed.
    bool ServeStream(Connection& connection, const std::shared_ptr<ImageStream>& stream);
    bool ServeSources(Connection& connection, const CommandRequest& request);
    void ReapFinished();
};

int64_t CommandServer::Running::Dispatch(const CommandRequest& request) {
    if (request.message != kWmCommand) return kCommandRefused;
    const uint16_t id = CommandSocketWire::CommandId(request);
    std::shared_ptr<SharedState> state = shared;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->stopping) return kCommandRefused;
    }
    if (request.mode == COMMAND_POST) {
        target->RunOnUiThread([state, id] {
            std::lock_guard<std::recursive_mutex> hold(state->targetMutex);
            if (state->target) state->target->ExecuteCommand(id);
        });
        return kCommandDispatched;
    }
    auto pending = std::make_shared<PendingReply>();
    target->RunOnUiThread([state, pending, id] {
        bool executed = false;
        {
            std::lock_guard<std::recursive_mutex> hold(state->targetMutex);
            if (state->target) executed = state->target->ExecuteCommand(id);
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        pending->finished = true;
        pending->executed = executed;
        state->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->changed.wait(lock, [&] { return pending->finished || state->stopping; });
    return pending->finished && pending->executed ? kCommandDispatched : kCommandRefused;
}

bool CommandTarget::StartStreamAcquisition() { return ExecuteCommand(res::ID_FILE_ACQUIRE); }

// The stream is registered on the UI thread before the acquisition it asks for
// starts, so it misses none of its images.
std::shared_ptr<ImageStream> CommandServer::Running::OpenStream(const CommandRequest& request,
                                                                int fd) {
    if ((request.mode & ~kStreamStartAcquisition) != 0) return nullptr;
    std::shared_ptr<SharedState> state = shared;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->stopping) return nullptr;
    }
    auto pending = std::make_shared<PendingStream>();
    StreamHub* hub = streams;
    const bool start = (request.mode & kStreamStartAcquisition) != 0;
    const uint64_t wanted = request.wParam;
    target->RunOnUiThread([state, pending, hub, fd, start, wanted] {
        std::shared_ptr<ImageStream> stream;
        {
            std::lock_guard<std::recursive_mutex> hold(state->targetMutex);
            if (state->target && state->target->AcceptsStreams()) {
                stream = hub->Add(fd, wanted);
                if (start && !state->target->StartStreamAcquisition()) {
                    hub->Remove(stream);
                    stream.reset();
                }
            }
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        pending->finished = true;
        pending->stream = std::move(stream);
        state->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->changed.wait(lock, [&] { return pending->finished || state->stopping; });
    return pending->stream;
}

template <class Result>
Result CommandServer::Running::OnUiThread(std::function<Result(CommandTarget&)> call,
                                          Result refused) {
    struct Pending {
        bool finished = false;
        Result result;
    };
    std::shared_ptr<SharedState> state = shared;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->stopping) return refused;
    }
    auto pending = std::make_shared<Pending>();
    pending->result = refused;
    target->RunOnUiThread([state, pending, call, refused] {
        Result result = refused;
        {
            std::lock_guard<std::recursive_mutex> hold(state->targetMutex);
            if (state->target) result = call(*state->target);
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        pending->finished = true;
        pending->result = std::move(result);
        state->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->changed.wait(lock, [&] { return pending->finished || state->stopping; });
    return pending->finished ? pending->result : refused;
}

std::shared_ptr<ImageStream> CommandServer::Running::OpenJobStream(const CommandRequest& request,
                                                                   const std::string& ticket,
                                                                   int fd) {
    StreamHub* hub = streams;
    const uint64_t wanted = request.wParam;
    return OnUiThread<std::shared_ptr<ImageStream>>(
        [hub, fd, wanted, ticket](CommandTarget& target) -> std::shared_ptr<ImageStream> {
            std::shared_ptr<ImageStream> stream = hub->AddForJob(fd, wanted);
            if (target.StartJobStream(ticket, stream)) return stream;
            hub->Remove(stream);
            return nullptr;
        },
        nullptr);
}

bool CommandServer::Running::ServeStream(Connection& connection,
                                         const std::shared_ptr<ImageStream>& stream) {
    unsigned char reply[kCommandReplySize];
    CommandSocketWire::EncodeReply(stream ? kCommandDispatched : kCommandRefused, reply);
    const bool replied = CommandSocketWire::WriteAll(connection.fd, reply, sizeof(reply),
                                                     kReplyWriteTimeoutMs) == IoResult::Done;
    if (!stream) return replied;
    // Few events wait in the socket: the rest wait in the stream's own
    // queue, where the slow-reader limit can see them.
    int smallest = 1;
    setsockopt(connection.fd, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof(smallest));
    if (replied) stream->Run();
    streams->Remove(stream);
    return false;
}

bool CommandServer::Running::ServeSources(Connection& connection, const CommandRequest& request) {
    if (request.mode != 0 || request.wParam != 0 || request.lParam != 0) return false;
    std::string json;
    const bool described = OnUiThread<bool>(
        [&json](CommandTarget& target) { return target.DescribeSources(&json); }, false);
    unsigned char reply[kCommandReplySize];
    CommandSocketWire::EncodeReply(described ? static_cast<int64_t>(json.size()) : kCommandRefused,
                                   reply);
    return CommandSocketWire::WriteAll(connection.fd, reply, sizeof(reply),
                                       kReplyWriteTimeoutMs) == IoResult::Done &&
           (!described || CommandSocketWire::WriteAll(connection.fd, json.data(), json.size(),
                                                      kReplyWriteTimeoutMs) == IoResult::Done);
}

void CommandServer::Running::Serve(Connection& connection) {
    unsigned char bytes[kCommandRequestSize];
    // A short request, an unknown mode or an lParam ends the connection: the
    // stream cannot be trusted to be in step any more.
    while (CommandSocketWire::ReadExact(connection.fd, bytes, sizeof(bytes), -1) ==
           IoResult::Done) {
        CommandRequest request = CommandSocketWire::DecodeRequest(bytes);
        if (request.message == kStreamMessage && request.lParam == 0) {
            if (ServeStream(connection, OpenStream(request, connection.fd))) continue;
            break;
        }
        if (request.message == kTicketStreamMessage) {
            // A ticket of a length out of bounds cannot be skipped: the connection ends.
            if (request.mode != 0 || request.lParam == 0 || request.lParam > kMaxTicketBytes)
                break;
            std::string ticket(static_cast<size_t>(request.lParam), '\0');
            if (CommandSocketWire::ReadExact(connection.fd, ticket.data(), ticket.size(),
                                             kReplyWriteTimeoutMs) != IoResult::Done)
                break;
            if (ServeStream(connection, OpenJobStream(request, ticket, connection.fd))) continue;
            break;
        }
        if (request.message == kSourcesMessage) {
            if (ServeSources(connection, request)) continue;
            break;
        }
        if (CommandSocketWire::IsMalformed(request)) break;
        unsigned char reply[kCommandReplySize];
        CommandSocketWire::EncodeReply(Dispatch(request), reply);
        if (CommandSocketWire::WriteAll(connection.fd, reply, sizeof(reply),
                                        kReplyWriteTimeoutMs) != IoResult::Done) {
            break;
        }
    }
    // The peer sees the end at once; the descriptor is closed by whoever joins us.
    shutdown(connection.fd, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(connectionsMutex);
    connection.finished = true;
}

void CommandServer::Running::ReapFinished() {
    std::list<Connection> done;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if (it->finished) done.splice(done.end(), connections, it);
            it = next;
        }
    }
    for (Connection& connection : done) {
        connection.reader.join();
        close(connection.fd);
    }
}

void CommandServer::Running::AcceptLoop() {
    for (;;) {
        pollfd entries[2] = {{listenFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: give the readers a moment to end rather than spin.
            if (errno == EMFILE || errno == ENFILE) usleep(10000);
            continue;
        }
        ReapFinished();
        std::lock_guard<std::mutex> lock(connectionsMutex);
        if (closing) {
            close(fd);
            return;
        }
        if (connections.size() >= kMaxConnections) {
            close(fd);
            continue;
        }
        Connection& connection = connections.emplace_back();
        connection.fd = fd;
        connection.reader = std::thread([this, &connection] { Serve(connection); });
    }
}

CommandServer::CommandServer(CommandTarget& target, StreamHub& streams)
    : m_target(target), m_streams(streams) {}

CommandServer::~CommandServer() { Stop(); }

bool CommandServer::IsRunning() const { return m_running != nullptr; }

bool CommandServer::Start() {
    std::string path;
    if (!CommandSocketPath::Resolve(path, m_error)) return false;
    return Start(path);
}

bool CommandServer::Start(const std::string& path) {
    m_error.clear();
    if (m_running) {
        m_error = "the command socket is already open at " + m_path;
        return false;
    }
    if (path.empty() || path.size() > CommandSocketPath::MaxLength()) {
        m_error = "unusable socket path: " + path;
        return false;
    }
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            m_error = path + " exists and is not a socket; not replacing it";
            return false;
        }
        CommandSocketClient probe;
        CommandCallResult answer = probe.Connect(path, kProbeTimeoutMs);
        if (answer != CommandCallResult::NotRunning) {
            m_error = "another Velomark is already running: its command socket " + path +
                      " accepts connections";
            return false;
        }
        unlink(path.c_str());  // a leftover of a process that ended without Stop
    }

    auto running = std::make_unique<Running>();
    running->listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (running->listenFd < 0) {
        m_error = std::string("cannot create the command socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct stat bound {};
    if (bind(running->listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
            0 ||
        chmod(path.c_str(), 0600) != 0 || lstat(path.c_str(), &bound) != 0 ||
        listen(running->listenFd, SOMAXCONN) != 0 || pipe2(running->wakeFds, O_CLOEXEC) != 0) {
        m_error = "cannot listen at " + path + ": " + std::strerror(errno);
        if (bound.st_ino != 0) unlink(path.c_str());
        close(running->listenFd);
        for (int fd : running->wakeFds)
            if (fd >= 0) close(fd);
        return false;
    }
    running->socketDevice = bound.st_dev;
    running->socketInode = bound.st_ino;
    running->shared->target = &m_target;
    running->target = &m_target;
    running->streams = &m_streams;
    Running* raw = running.get();
    running->acceptor = std::thread([raw] { raw->AcceptLoop(); });
    m_running = std::move(running);
    m_path = path;
    return true;
}

void CommandServer::Stop() {
    if (!m_running) return;
    Running& running = *m_running;
    std::shared_ptr<SharedState> shared = running.shared;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->stopping = true;
        shared->changed.notify_all();
    }
    {
        std::lock_guard<std::recursive_mutex> hold(shared->targetMutex);
        shared->target = nullptr;
    }
    m_streams.CloseAll();
    char wake = 1;
    while (write(running.wakeFds[1], &wake, 1) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(running.connectionsMutex);
        running.closing = true;
    }
    running.acceptor.join();
    {
        std::lock_guard<std::mutex> lock(running.connectionsMutex);
        for (Connection& connection : running.connections) shutdown(connection.fd, SHUT_RDWR);
    }
    for (Connection& connection : running.connections) {
        connection.reader.join();
        close(connection.fd);
    }
    close(running.listenFd);
    close(running.wakeFds[0]);
    close(running.wakeFds[1]);
    struct stat current {};
    if (lstat(m_path.c_str(), &current) == 0 && current.st_dev == running.socketDevice &&
        current.st_ino == running.socketInode) {
        unlink(m_path.c_str());
    }
    m_running.reset();
}

}  // namespace velomark
