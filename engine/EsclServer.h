// The HTTP/1.1 side of the network scanners: libmicrohttpd, a thread per
// connection, one daemon per listening address. It screens every request before
// the scanners see it: a Host that is not an IP literal, `localhost` or this
// machine's name gets 421 (a web page's DNS rebinding); an Origin not allowed gets
// 403; a body over 64 KiB gets 413. At most 32 connections in all.
//
// Web pages: the server's own page and module (EsclWebFiles) at `/`, and CORS for
// the origins the user listed and for the server's own origin (http://HOST:PORT,
// what its page sends): the origin itself in Access-Control-Allow-Origin, never
// `*`, preflights for POST and DELETE with Content-Type, and Chrome's
// Private Network Access answer. A request without Origin (a plain eSCL client)
// gets no CORS headers and is otherwise untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/EsclWebFiles.h"
#include "engine/ShareAddress.h"

struct MHD_Daemon;

namespace velomark {

class EsclService;

class EsclServer {
public:
    static constexpr size_t kMaxBody = 64 * 1024;
    static constexpr unsigned kMaxConnections = 32;

    EsclServer(EsclService& service, std::vector<std::string> allowedOrigins);
    ~EsclServer();
    EsclServer(const EsclServer&) = delete;
    EsclServer& operator=(const EsclServer&) = delete;

    // Listens on every address of `address` (one that cannot be had besides a first
    // is skipped: a machine without IPv6); false with a sentence when none could.
    bool Start(const ShareAddress& address, std::string* error);
    // Closes the listeners and waits for the connections' threads.
    void Stop();

    uint16_t Port() const { return m_port; }
    // This machine's name, as read once when the server was made.
    const std::string& Machine() const { return m_machine; }
    // http://HOST:PORT/eSCL for the first address served.
    std::string Url() const;

    // Called by the daemons' threads.
    struct Request;
    int Screen(const char* host, const char* origin, const char* contentLength) const;
    EsclService& Service() { return m_service; }
    const EsclWebFiles& WebFiles() const { return m_web; }

private:
    EsclService& m_service;
    const std::vector<std::string> m_allowedOrigins;
    const std::string m_machine;
    const EsclWebFiles m_web;
    std::vector<MHD_Daemon*> m_daemons;
    std::string m_firstHost;
    uint16_t m_port = 0;
};

// Whether a Host header names this machine as a browser could only mean it: an IP
// literal (IPv6 in brackets), `localhost`, or `machine` (with or without `.local`);
// an optional port after it.
bool HostHeaderAllowed(const std::string& host, const std::string& machine);

// Whether a request's `origin` may use the scanners: one of `allowed`, or the
// server's own (http:// and the request's Host, which the server has screened).
bool OriginAllowed(const std::string& origin, const std::string& host,
                   const std::vector<std::string>& allowed);

}  // namespace velomark
