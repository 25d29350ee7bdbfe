// What a velomark_client handle holds; shared by the library's source files.
#pragma once

#include <string>

#include "client/ClientChannel.h"

struct velomark_client {
    velomark::ClientChannel channel;
    std::string socketPath;
    std::string lastError;
};
