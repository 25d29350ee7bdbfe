// The XML documents an eSCL scanner answers with: its capabilities (from a source's
// abilities), its status and a page's image information.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SourceAbilities;

namespace velomark {

// One job as ScannerStatus lists it.
struct EsclJobSummary {
    std::string uri;   // path only: /eSCL/ScanJobs/<id>
    std::string uuid;
    int64_t ageSeconds = 0;
    int imagesCompleted = 0;
    int imagesToTransfer = 0;
    const char* state = "Pending";  // Pending, Processing, Completed, Canceled, Aborted
    const char* reason = "JobQueued";
};

struct EsclStatus {
    bool processing = false;
    // Only for a source with a feeder: "ScannerAdfLoaded" or "ScannerAdfEmpty".
    const char* adfState = nullptr;
    std::vector<EsclJobSummary> jobs;
};

// The resolutions offered: a source's list as it is; a range as the usual values
// within it (clients break on ranges).
std::vector<int> OfferedResolutions(const SourceAbilities& source);

std::string CapabilitiesXml(const SourceAbilities& source, const std::string& uuid);
std::string StatusXml(const EsclStatus& status);
std::string ImageInfoXml(const EsclJobSummary& job, int width, int height, int bytesPerLine);

// Text for an XML element or attribute: &, <, >, " and ' escaped, control
// characters dropped.
std::string XmlEscaped(const std::string& text);

}  // namespace velomark
