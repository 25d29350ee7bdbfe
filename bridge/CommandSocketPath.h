// Where the main frame's command socket lives: $XDG_RUNTIME_DIR/velomark.sock, or
// without that variable /tmp/velomark-<uid>/velomark.sock in a folder that only
// this user may enter. VELOMARK_CHANNEL_SUFFIX (a test aid) is added to the name.
#pragma once

#include <string>

namespace velomark {

class CommandSocketPath {
public:
    // The socket's path, making the private /tmp folder when it is needed and
    // checking that an existing one is ours, a real folder and closed to others.
    // False with the reason in `error` when no usable path can be had.
    static bool Resolve(std::string& path, std::string& error);

    // The socket's file name with the suffix, e.g. "velomark.sock".
    static std::string FileName();

    // Longest path a Unix-domain socket address holds (without the NUL).
    static size_t MaxLength();
};

}  // namespace velomark
