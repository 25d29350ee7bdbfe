// Where the network scanners listen: `--share` alone is 127.0.0.1 and ::1 on port
// 8090; `--share=ADDR:PORT` one address (an IPv6 one in brackets), port 0 a free
// port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velomark {

struct ShareAddress {
    static constexpr uint16_t kDefaultPort = 8090;

    std::vector<std::string> hosts;  // numeric addresses, IPv6 without brackets
    uint16_t port = kDefaultPort;

    static ShareAddress Loopback();
    // "ADDR:PORT"; false with a sentence for anything else. 0.0.0.0 and [::] each
    // serve both families' wildcard addresses.
    static bool Parse(const std::string& text, ShareAddress* address, std::string* error);
    // Whether every address is a loopback one (then nothing is announced).
    bool IsLoopback() const;
};

// A whole decimal port number, 0 to 65535.
bool ParsePort(const std::string& text, uint16_t* port);

}  // namespace velomark
