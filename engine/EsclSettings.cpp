#include "engine/EsclSettings.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/EsclNames.h"

namespace velomark {

namespace {

// Areas arrive in 1/300 inch; tickets hold 1/1200.
constexpr int64_t kTicketUnitsPer300th = ScanTicket::kAreaUnitsPerInch / 300;

struct DocumentFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool Is(const xmlNode* node, const char* ns, const char* name) {
    return node->type == XML_ELEMENT_NODE && node->ns && node->ns->href &&
           std::strcmp(reinterpret_cast<const char*>(node->ns->href), ns) == 0 &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool IsEither(const xmlNode* node, const char* name) {
    return Is(node, kPwgNamespace, name) || Is(node, kScanNamespace, name);
}

// The element's text without surrounding white space.
std::string Text(const xmlNode* node) {
    std::string text;
    for (const xmlNode* child = node->children; child; child = child->next)
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) && child->content)
            text += reinterpret_cast<const char*>(child->content);
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool Number(const xmlNode* node, int64_t low, int64_t high, int64_t* value) {
    const std::string text = Text(node);
    int64_t number = 0;
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || code != std::errc() || end != text.data() + text.size()) return false;
    if (number < low || number > high) return false;
    *value = number;
    return true;
}

bool ParseRegion(const xmlNode* region, ScanTicket* ticket, std::string* error) {
    constexpr int64_t kLimit = int64_t(1000) * 300;  // a few metres of bed
    int64_t left = 0, top = 0, width = 0, height = 0;
    bool hasWidth = false, hasHeight = false;
    for (const xmlNode* node = region->children; node; node = node->next) {
        bool ok = true;
        if (Is(node, kPwgNamespace, "XOffset")) ok = Number(node, 0, kLimit, &left);
        else if (Is(node, kPwgNamespace, "YOffset")) ok = Number(node, 0, kLimit, &top);
        else if (Is(node, kPwgNamespace, "Width")) ok = hasWidth = Number(node, 1, kLimit, &width);
        else if (Is(node, kPwgNamespace, "Height")) ok = hasHeight = Number(node, 1, kLimit, &height);
        else if (Is(node, kPwgNamespace, "ContentRegionUnits"))
            ok = Text(node) == "escl:ThreeHundredthsOfInches";
        if (!ok) {
            *error = "the scan region's " + std::string(reinterpret_cast<const char*>(node->name)) +
                     " cannot be '" + Text(node) + "'";
            return false;
        }
    }
    // A region without a size is the whole bed.
    if (!hasWidth || !hasHeight) return true;
    ticket->hasArea = true;
    ticket->areaLeft = left * kTicketUnitsPer300th;
    ticket->areaTop = top * kTicketUnitsPer300th;
    ticket->areaWidth = width * kTicketUnitsPer300th;
    ticket->areaHeight = height * kTicketUnitsPer300th;
    return true;
}

bool ParseFormat(const std::string& mime, PageFormat* format) {
    for (const PageFormat candidate : {PageFormat::Jpeg, PageFormat::Png, PageFormat::Pdf}) {
        if (mime == PageFormatMime(candidate)) {
            *format = candidate;
            return true;
        }
    }
    return false;
}

bool ParseColor(const std::string& mode, ScanTicket::Color* color) {
    if (mode == "RGB24" || mode == "RGB48") *color = ScanTicket::Color::Rgb;
    else if (mode == "Grayscale8" || mode == "Grayscale16") *color = ScanTicket::Color::Gray;
    else if (mode == "BlackAndWhite1") *color = ScanTicket::Color::BlackWhite;
    else return false;
    return true;
}

// One child of ScanSettings into *parsed; false with a sentence.
bool ParseSetting(const xmlNode* node, EsclSettings* parsed, bool* duplex, bool* feeder,
                  std::string* ext, std::string* error) {
    ScanTicket& ticket = parsed->ticket;
    const std::string text = Text(node);
    int64_t number = 0;
    bool ok = true;
    if (Is(node, kPwgNamespace, "ScanRegions")) {
        for (const xmlNode* region = node->children; region; region = region->next)
            if (Is(region, kPwgNamespace, "ScanRegion") && !ParseRegion(region, &ticket, error))
                return false;
        return true;
    }
    if (IsEither(node, "InputSource")) {
        // "Adf" is what some clients send for the feeder.
        *feeder = text == "Feeder" || text == "Adf";
        ok = *feeder || text == "Platen";
        ticket.input = *feeder ? ScanTicket::Input::Feeder : ScanTicket::Input::Flatbed;
    } else if (Is(node, kScanNamespace, "ColorMode")) {
        ok = ParseColor(text, &ticket.color);
    } else if (Is(node, kPwgNamespace, "DocumentFormat")) {
        ok = ParseFormat(text, &parsed->format);
    } else if (Is(node, kScanNamespace, "DocumentFormatExt")) {
        *ext = text;
    } else if (Is(node, kScanNamespace, "XResolution")) {
        ok = Number(node, 1, ScanTicket::kMaxResolution, &number);
        ticket.xResolution = static_cast<int>(number);
    } else if (Is(node, kScanNamespace, "YResolution")) {
        ok = Number(node, 1, ScanTicket::kMaxResolution, &number);
        ticket.yResolution = static_cast<int>(number);
    } else if (Is(node, kScanNamespace, "Duplex")) {
        ok = text == "true" || text == "false" || text == "1" || text == "0";
        *duplex = text == "true" || text == "1";
    }
    if (!ok)
        *error = "the scan settings' " + std::string(reinterpret_cast<const char*>(node->name)) +
                 " cannot be '" + text + "'";
    return ok;
}

// Whether an entity reference survived parsing anywhere in the tree.
bool HoldsEntity(const xmlNode* node) {
    for (; node; node = node->next)
        if (node->type == XML_ENTITY_REF_NODE || node->type == XML_ENTITY_DECL ||
            HoldsEntity(node->children))
            return true;
    return false;
}

}  // namespace

const char* PageFormatMime(PageFormat format) {
    switch (format) {
        case PageFormat::Png: return "image/png";
        case PageFormat::Pdf: return "application/pdf";
        case PageFormat::Jpeg: break;
    }
    return "image/jpeg";
}

bool EsclSettings::Parse(const std::string& xml, EsclSettings* settings, std::string* error) {
    // Entities and document types are refused before libxml2 sees them, so that no
    // expansion, external fetch or internal subset is ever attempted. A zero byte
    // (UTF-16 or UTF-32 text) would hide them from this look, so it refuses too.
    if (xml.find("<!DOCTYPE") != std::string::npos || xml.find("<!ENTITY") != std::string::npos ||
        xml.find('\0') != std::string::npos) {
        *error = "the scan settings carry a document type or an entity";
        return false;
    }
    if (xml.size() > 64 * 1024) {
        *error = "the scan settings are too long";
        return false;
    }
    const std::unique_ptr<xmlDoc, DocumentFree> doc(xmlReadMemory(
        xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA));
    if (!doc || doc->intSubset || doc->extSubset || HoldsEntity(doc->children)) {
        *error = "the scan settings are not well-formed XML";
        return false;
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root || !Is(root, kScanNamespace, "ScanSettings")) {
        *error = "the document is not eSCL scan settings";
        return false;
    }
    EsclSettings parsed;
    bool duplex = false, feeder = false;
    std::string ext;
    for (const xmlNode* node = root->children; node; node = node->next)
        if (!ParseSetting(node, &parsed, &duplex, &feeder, &ext, error)) return false;
    // The newer element wins: some clients send only it, some both.
    if (!ext.empty() && !ParseFormat(ext, &parsed.format)) {
        *error = "the scan settings' DocumentFormatExt cannot be '" + ext + "'";
        return false;
    }
    ScanTicket& ticket = parsed.ticket;
    if (ticket.xResolution == 0) ticket.xResolution = ticket.yResolution;
    if (ticket.yResolution == 0) ticket.yResolution = ticket.xResolution;
    if (feeder && duplex) ticket.input = ScanTicket::Input::Duplex;
    *settings = parsed;
    return true;
}

}  // namespace velomark
