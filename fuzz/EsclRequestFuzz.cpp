// A network client's request to the eSCL scanners: the first line is the path (and,
// taken as is, a Host header), the rest the body of a POST and then of the same
// request with another method. Jobs are refused by the stand-in engine, so nothing
// waits for a page.
#include <cstdint>
#include <string>

#include "engine/EsclServer.h"
#include "engine/EsclService.h"
#include "twain/SourceAbilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string path = input.substr(0, newline);
    const std::string body = newline == std::string::npos ? "" : input.substr(newline + 1);
    velomark::HostHeaderAllowed(path, "scanhost");
    velomark::EsclService service([](const ScanTicket&, auto) { return false; },
                                  velomark::EsclService::Limits{});
    SourceAbilities source;
    source.name = "Chart";
    source.flatbed = source.feeder = true;
    service.SetSources({source, source}, "scanhost");
    for (const char* method : {"POST", "GET", "DELETE"})
        service.Handle(velomark::EsclRequest{method, path, body});
    return 0;
}
