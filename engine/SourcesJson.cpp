#include "engine/SourcesJson.h"

#include <cstdio>

#include "twain/SourceAbilities.h"

namespace velomark {

namespace {

// A JSON string: quotes, backslashes and control characters escaped; other bytes
// (UTF-8 included) as they are.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Words(const std::vector<const char*>& words) {
    std::string out = "[";
    for (size_t i = 0; i < words.size(); ++i) out += (i ? ",\"" : "\"") + std::string(words[i]) + "\"";
    return out + "]";
}

std::string Source(const SourceAbilities& source) {
    std::string out = "{\"name\":" + Quoted(source.name) +
                      ",\"manufacturer\":" + Quoted(source.manufacturer) +
                      ",\"default\":" + (source.isDefault ? "true" : "false");
    if (!source.error.empty()) return out + ",\"error\":" + Quoted(source.error) + "}";
    std::vector<const char*> inputs, colors;
    if (source.flatbed) inputs.push_back("flatbed");
    if (source.feeder) inputs.push_back("feeder");
    if (source.duplex) inputs.push_back("duplex");
    if (source.blackWhite) colors.push_back("bw");
    if (source.gray) colors.push_back("gray");
    if (source.rgb) colors.push_back("rgb");
    out += ",\"inputs\":" + Words(inputs) + ",\"colors\":" + Words(colors);
    if (source.resolutionRange) {
        out += ",\"resolutions\":{\"min\":" + std::to_string(source.minResolution) +
               ",\"max\":" + std::to_string(source.maxResolution) +
               ",\"step\":" + std::to_string(source.resolutionStep) + "}";
    } else {
        out += ",\"resolutions\":{\"list\":[";
        for (size_t i = 0; i < source.resolutions.size(); ++i)
            out += (i ? "," : "") + std::to_string(source.resolutions[i]);
        out += "]}";
    }
    if (source.hasBed)
        out += ",\"bed\":{\"width\":" + std::to_string(source.bedWidth) +
               ",\"height\":" + std::to_string(source.bedHeight) + "}";
    if (source.feederLoaded >= 0)
        out += std::string(",\"feeder_loaded\":") + (source.feederLoaded ? "true" : "false");
    return out + "}";
}

}  // namespace

std::string SourcesJson(const std::vector<SourceAbilities>& sources) {
    std::string out = "{\"sources\":[";
    for (size_t i = 0; i < sources.size(); ++i) out += (i ? "," : "") + Source(sources[i]);
    return out + "]}";
}

}  // namespace velomark
