#include "engine/EsclServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "engine/EsclService.h"

namespace velomark {

namespace {

std::string MachineName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

bool SameName(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A listening socket on host:port; -1 with errno's sentence.
int Listen(const std::string& host, uint16_t port, std::string* error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const bool v6 = host.find(':') != std::string::npos;
    if (v6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        inet_pton(AF_INET6, host.c_str(), &address->sin6_addr);
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_port = htons(port);
        inet_pton(AF_INET, host.c_str(), &address->sin_addr);
        length = sizeof *address;
    }
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, 64) != 0) {
        *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
    if (storage.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

}  // namespace

// What one request gathered across the daemon's calls.
struct EsclServer::Request {
    std::string body;
    bool answered = false;
    bool tooLarge = false;
};

namespace {

// The CORS headers of an answer to an allowed `origin` (null: none sent, none added).
void AddCorsHeaders(MHD_Response* response, const char* origin) {
    // Every answer can differ by Origin: a cache must not hand one origin's to another.
    MHD_add_response_header(response, "Vary", "Origin");
    if (!origin) return;
    MHD_add_response_header(response, "Access-Control-Allow-Origin", origin);
    // A web page reads the new job's address from it.
    MHD_add_response_header(response, "Access-Control-Expose-Headers", "Location");
}

MHD_Result Send(MHD_Connection* connection, const EsclReply& reply, const char* origin) {
    MHD_Response* response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    if (!reply.contentType.empty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
    if (!reply.location.empty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_LOCATION, reply.location.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    AddCorsHeaders(response, origin);
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result Refuse(MHD_Connection* connection, int status, const char* text) {
    return Send(connection, EsclReply{status, "text/plain", std::string(text) + "\n", ""}, nullptr);
}

// A browser's preflight from an allowed origin: what it may send, and, when Chrome
// asks whether a page may reach this private address, yes.
MHD_Result Preflight(MHD_Connection* connection, const char* origin) {
    MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (!response) return MHD_NO;
    AddCorsHeaders(response, origin);
    MHD_add_response_header(response, "Access-Control-Allow-Methods", "GET, POST, DELETE");
    MHD_add_response_header(response, "Access-Control-Allow-Headers", "Content-Type");
    MHD_add_response_header(response, "Access-Control-Max-Age", "600");
    const char* privateNetwork = MHD_lookup_connection_value(
        connection, MHD_HEADER_KIND, "Access-Control-Request-Private-Network");
    if (privateNetwork && strcasecmp(privateNetwork, "true") == 0)
        MHD_add_response_header(response, "Access-Control-Allow-Private-Network", "true");
    const MHD_Result queued = MHD_queue_response(connection, 204, response);
    MHD_destroy_response(response);
    return queued;
}

EsclReply WebFile(const EsclWebFiles& files, const std::string& path) {
    EsclReply reply;
    if (!files.Read(path, &reply.body, &reply.contentType))
        return EsclReply{404, "text/plain", "the web page is not installed\n", ""};
    return reply;
}

MHD_Result Access(void* server, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char* upload, size_t* uploadSize, void** context) {
    auto& self = *static_cast<EsclServer*>(server);
    auto* request = static_cast<EsclServer::Request*>(*context);
    if (!request) {
        request = new EsclServer::Request;
        *context = request;
        const int refused = self.Screen(
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST),
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Origin"),
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH));
        if (refused) {
            request->answered = true;
            return Refuse(connection, refused,
                          refused == 421 ? "this server is not known by that name"
                          : refused == 403 ? "requests from that origin are not allowed"
                                           : "the request body is too large");
        }
        return MHD_YES;  // the body, if any, comes in the next calls
    }
    if (*uploadSize > 0) {
        // A body past the limit is read and dropped; the refusal follows its end.
        if (request->body.size() + *uploadSize > EsclServer::kMaxBody) {
            request->tooLarge = true;
            request->body.clear();
        }
        if (!request->tooLarge && !request->answered) request->body.append(upload, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (request->answered) return MHD_YES;
    request->answered = true;
    if (request->tooLarge) return Refuse(connection, 413, "the request body is too large");
    // Screened above: an Origin still here is allowed.
    const char* origin = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Origin");
    const std::string verb = method;
    if (verb == "OPTIONS" && origin &&
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Access-Control-Request-Method"))
        return Preflight(connection, origin);
    if (verb == "GET" && EsclWebFiles::Serves(url)) return Send(connection, WebFile(self.WebFiles(), url), origin);
    const EsclReply reply = self.Service().Handle(EsclRequest{method, url, std::move(request->body)});
    return Send(connection, reply, origin);
}

void Completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    delete static_cast<EsclServer::Request*>(*context);
    *context = nullptr;
}

}  // namespace

bool HostHeaderAllowed(const std::string& host, const std::string& machine) {
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        const size_t close = name.find(']');
        if (close == std::string::npos) return false;
        const std::string rest = name.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || rest.size() == 1)) return false;
        in6_addr address{};
        return inet_pton(AF_INET6, name.substr(1, close - 1).c_str(), &address) == 1;
    }
    const size_t colon = name.find(':');
    if (colon != std::string::npos) {
        uint16_t port = 0;
        if (!ParsePort(name.substr(colon + 1), &port)) return false;
        name.resize(colon);
    }
    if (!name.empty() && name.back() == '.') name.pop_back();
    in_addr address{};
    if (inet_pton(AF_INET, name.c_str(), &address) == 1) return true;
    return SameName(name, "localhost") || SameName(name, machine) ||
           SameName(name, machine + ".local");
}

bool OriginAllowed(const std::string& origin, const std::string& host,
                   const std::vector<std::string>& allowed) {
    if (!host.empty() && origin == "http://" + host) return true;
    for (const std::string& listed : allowed)
        if (listed == origin) return true;
    return false;
}

EsclServer::EsclServer(EsclService& service, std::vector<std::string> allowedOrigins)
    : m_service(service), m_allowedOrigins(std::move(allowedOrigins)), m_machine(MachineName()) {}

EsclServer::~EsclServer() { Stop(); }

int EsclServer::Screen(const char* host, const char* origin, const char* contentLength) const {
    // A request without Host (HTTP/1.0) comes from no browser.
    if (host && !HostHeaderAllowed(host, m_machine)) return 421;
    if (origin && !OriginAllowed(origin, host ? host : "", m_allowedOrigins)) return 403;
    if (contentLength) {
        const std::string text = contentLength;
        uint64_t length = 0;
        const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), length);
        if (code != std::errc() || end != text.data() + text.size() || length > kMaxBody) return 413;
    }
    return 0;
}

bool EsclServer::Start(const ShareAddress& address, std::string* error) {
    const unsigned perDaemon =
        kMaxConnections / static_cast<unsigned>(address.hosts.empty() ? 1 : address.hosts.size());
    uint16_t port = address.port;
    for (const std::string& host : address.hosts) {
        std::string why;
        const int fd = Listen(host, port, &why);
        if (fd < 0) {
            if (m_daemons.empty()) {
                *error = why;
                return false;
            }
            continue;
        }
        // The addresses after the first share its port, a free one included.
        if (m_daemons.empty()) port = BoundPort(fd);
        const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD |
                               (host.find(':') != std::string::npos ? MHD_USE_IPv6 : 0);
        MHD_Daemon* daemon = MHD_start_daemon(
            flags, 0, nullptr, nullptr, &Access, this, MHD_OPTION_LISTEN_SOCKET, fd,
            MHD_OPTION_CONNECTION_LIMIT, perDaemon, MHD_OPTION_CONNECTION_TIMEOUT, 120u,
            MHD_OPTION_NOTIFY_COMPLETED, &Completed, nullptr, MHD_OPTION_END);
        if (!daemon) {
            close(fd);
            if (m_daemons.empty()) {
                *error = "the HTTP server could not start on " + host;
                return false;
            }
            continue;
        }
        if (m_daemons.empty()) m_firstHost = host;
        m_daemons.push_back(daemon);
    }
    m_port = port;
    return !m_daemons.empty();
}

void EsclServer::Stop() {
    // Waiting NextDocuments return first, so that the daemons' threads can end.
    if (!m_daemons.empty()) m_service.CancelAll();
    for (MHD_Daemon* daemon : m_daemons) MHD_stop_daemon(daemon);
    m_daemons.clear();
}

std::string EsclServer::Url() const {
    // An address of every interface is reached by the machine's name.
    const bool any = m_firstHost == "0.0.0.0" || m_firstHost == "::";
    const bool v6 = !any && m_firstHost.find(':') != std::string::npos;
    const std::string host = any ? m_machine : m_firstHost;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(m_port) +
           "/eSCL";
}

}  // namespace velomark
