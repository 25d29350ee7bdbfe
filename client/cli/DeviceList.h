// `velomark-client devices`: the sources and their abilities, as a table or as
// the JSON document Velomark sent.
#pragma once

#include <string>

#include "client/cli/ClientCommandLine.h"

struct velomark_client;

namespace velomark {

class DeviceList {
public:
    // Asks Velomark and prints the list; the exit code.
    static int Run(velomark_client* client, const ClientCommandLine& commandLine);
    // The table of the document's sources; false with the reason in `error` when
    // the document is not the list of sources.
    static bool Table(const std::string& json, std::string& table, std::string& error);
};

}  // namespace velomark
