#include "engine/EsclDocuments.h"

#include <algorithm>

#include "engine/EsclNames.h"
#include "twain/ScanTicket.h"
#include "twain/SourceAbilities.h"

namespace velomark {

namespace {

// Abilities hold 1/1200 inch; eSCL speaks 1/300.
constexpr int64_t kAbilityUnitsPer300th = ScanTicket::kAreaUnitsPerInch / 300;
// A source that does not tell its bed is taken as US Letter.
constexpr int64_t kLetterWidth = 2550, kLetterHeight = 3300;

std::string Element(const char* name, const std::string& text) {
    return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string Element(const char* name, int64_t value) { return Element(name, std::to_string(value)); }

std::string DocumentStart(const char* root) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + root +
           " xmlns:pwg=\"" + kPwgNamespace + "\" xmlns:scan=\"" + kScanNamespace + "\">" +
           Element("pwg:Version", "2.63");
}

std::string SettingProfile(const SourceAbilities& source) {
    std::string colors;
    if (source.rgb || (!source.gray && !source.blackWhite)) colors += Element("scan:ColorMode", "RGB24");
    if (source.gray) colors += Element("scan:ColorMode", "Grayscale8");
    if (source.blackWhite) colors += Element("scan:ColorMode", "BlackAndWhite1");
    std::string formats;
    for (const char* mime : {"image/png", "image/jpeg", "application/pdf"})
        formats += Element("pwg:DocumentFormat", mime);
    for (const char* mime : {"image/png", "image/jpeg", "application/pdf"})
        formats += Element("scan:DocumentFormatExt", mime);
    std::string resolutions;
    for (const int dpi : OfferedResolutions(source))
        resolutions += Element("scan:DiscreteResolution", Element("scan:XResolution", dpi) +
                                                              Element("scan:YResolution", dpi));
    return Element("scan:SettingProfiles",
                   Element("scan:SettingProfile",
                           Element("scan:ColorModes", colors) + Element("scan:DocumentFormats", formats) +
                               Element("scan:SupportedResolutions",
                                       Element("scan:DiscreteResolutions", resolutions))));
}

std::string InputCaps(const SourceAbilities& source) {
    const int64_t width = source.hasBed ? source.bedWidth / kAbilityUnitsPer300th : kLetterWidth;
    const int64_t height = source.hasBed ? source.bedHeight / kAbilityUnitsPer300th : kLetterHeight;
    const std::vector<int> resolutions = OfferedResolutions(source);
    const int highest = resolutions.empty() ? 300 : resolutions.back();
    std::string intents;
    for (const char* intent : {"Document", "TextAndGraphic", "Photo", "Preview"})
        intents += Element("scan:Intent", intent);
    return Element("scan:MinWidth", 1) + Element("scan:MaxWidth", std::max<int64_t>(1, width)) +
           Element("scan:MinHeight", 1) + Element("scan:MaxHeight", std::max<int64_t>(1, height)) +
           Element("scan:MaxScanRegions", 1) + SettingProfile(source) +
           Element("scan:SupportedIntents", intents) + Element("scan:MaxOpticalXResolution", highest) +
           Element("scan:MaxOpticalYResolution", highest);
}

}  // namespace

std::vector<int> OfferedResolutions(const SourceAbilities& source) {
    std::vector<int> offered;
    if (source.resolutionRange) {
        const int step = std::max(1, source.resolutionStep);
        for (const int dpi : {75, 100, 150, 200, 300, 600, 1200, 2400, 4800})
            if (dpi >= source.minResolution && dpi <= source.maxResolution &&
                (dpi - source.minResolution) % step == 0)
                offered.push_back(dpi);
        if (offered.empty() && source.minResolution > 0) offered.push_back(source.minResolution);
    } else {
        for (const int dpi : source.resolutions)
            if (dpi > 0) offered.push_back(dpi);
    }
    std::sort(offered.begin(), offered.end());
    offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
    // A source that tells nothing is asked for what nearly every scanner does.
    if (offered.empty()) offered = {100, 150, 300};
    return offered;
}

std::string CapabilitiesXml(const SourceAbilities& source, const std::string& uuid) {
    std::string xml = DocumentStart("scan:ScannerCapabilities");
    const std::string name = XmlEscaped(source.name);
    xml += Element("pwg:MakeAndModel", name) + Element("scan:UUID", uuid);
    const std::string caps = InputCaps(source);
    if (source.flatbed || !source.feeder)
        xml += Element("scan:Platen", Element("scan:PlatenInputCaps", caps));
    if (source.feeder) {
        std::string adf = Element("scan:AdfSimplexInputCaps", caps);
        if (source.duplex) adf += Element("scan:AdfDuplexInputCaps", caps);
        adf += Element("scan:AdfOptions", Element("scan:AdfOption", "DetectPaperLoaded"));
        xml += Element("scan:Adf", adf);
    }
    return xml + "</scan:ScannerCapabilities>\n";
}

std::string StatusXml(const EsclStatus& status) {
    std::string xml = DocumentStart("scan:ScannerStatus");
    xml += Element("pwg:State", status.processing ? "Processing" : "Idle");
    if (status.adfState) xml += Element("scan:AdfState", status.adfState);
    std::string jobs;
    for (const EsclJobSummary& job : status.jobs)
        jobs += Element(
            "scan:JobInfo",
            Element("pwg:JobUri", job.uri) + Element("pwg:JobUuid", job.uuid) +
                Element("scan:Age", job.ageSeconds) + Element("pwg:ImagesCompleted", job.imagesCompleted) +
                Element("pwg:ImagesToTransfer", job.imagesToTransfer) + Element("pwg:JobState", job.state) +
                Element("pwg:JobStateReasons", Element("pwg:JobStateReason", job.reason)));
    return xml + Element("scan:Jobs", jobs) + "</scan:ScannerStatus>\n";
}

std::string ImageInfoXml(const EsclJobSummary& job, int width, int height, int bytesPerLine) {
    return DocumentStart("scan:ImageInfo") + Element("pwg:JobUri", job.uri) +
           Element("pwg:JobUuid", job.uuid) + Element("scan:ActualWidth", width) +
           Element("scan:ActualHeight", height) + Element("scan:ActualBytesPerLine", bytesPerLine) +
           "</scan:ImageInfo>\n";
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
    return out;
}

}  // namespace velomark
