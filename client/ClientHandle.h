// What a velomark_client handle holds; shared by the library's source files.
#pragma once

#include <string>

#include "client/ClientChannel.h"

namespace velomark {
// Why this thread's last call without a handle failed (velomark_open,
// velomark_ticket_text): what velomark_last_error(NULL) answers.
std::string& HandlelessError();
}  // namespace velomark

struct velomark_client {
    velomark::ClientChannel channel;
    std::string socketPath;
    std::string lastError;
};
