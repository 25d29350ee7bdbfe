// `velomark-client acquire --stream`: saves each page of the image stream as it
// arrives, with a progress line (or a JSON line) per page.
#pragma once

#include "client/cli/ClientCommandLine.h"

struct velomark_client;

namespace velomark {

class StreamAcquire {
public:
    // The exit code: EXIT_OK with pages, EXIT_NO_PAGES when the source ended with none.
    static int Run(velomark_client* client, const ClientCommandLine& commandLine);
};

}  // namespace velomark
