#include "engine/ShareAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace velomark {

namespace {

bool IsIpv4(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool IsIpv6(const std::string& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace

bool ParsePort(const std::string& text, uint16_t* port) {
    unsigned value = 0;
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || code != std::errc() || end != text.data() + text.size() || value > 65535)
        return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

ShareAddress ShareAddress::Loopback() { return ShareAddress{{"127.0.0.1", "::1"}, kDefaultPort}; }

bool ShareAddress::Parse(const std::string& text, ShareAddress* address, std::string* error) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        *error = "'" + text + "' is not ADDRESS:PORT";
        return false;
    }
    std::string host = text.substr(0, colon);
    const std::string portText = text.substr(colon + 1);
    uint16_t port = 0;
    if (!ParsePort(portText, &port)) {
        *error = "'" + portText + "' is not a port number";
        return false;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (!IsIpv6(host)) {
            *error = "'" + host + "' is not an IPv6 address";
            return false;
        }
    } else if (!IsIpv4(host)) {
        *error = "'" + host + "' is not an IPv4 address (write IPv6 ones in brackets)";
        return false;
    }
    *address = ShareAddress{{host}, port};
    // Every address of one family means every address of both: some clients (macOS)
    // reach a scanner over IPv6 only.
    if (host == "0.0.0.0") address->hosts.push_back("::");
    if (host == "::") address->hosts.push_back("0.0.0.0");
    return true;
}

bool ShareAddress::IsLoopback() const {
    for (const std::string& host : hosts) {
        in_addr v4{};
        in6_addr v6{};
        if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
            if ((ntohl(v4.s_addr) >> 24) != 127) return false;
        } else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
            if (!IN6_IS_ADDR_LOOPBACK(&v6)) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace velomark
