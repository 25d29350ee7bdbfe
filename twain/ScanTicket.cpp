#include "twain/ScanTicket.h"

#include <charconv>
#include <set>
#include <string_view>

namespace {

// A whole non-negative decimal number within [low, high], nothing around it.
bool ParseNumber(std::string_view text, int64_t low, int64_t high, int64_t* value) {
    if (text.empty() || text.front() == '+' || text.front() == '-') return false;
    int64_t number = 0;
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (code != std::errc() || end != text.data() + text.size()) return false;
    if (number < low || number > high) return false;
    *value = number;
    return true;
}

bool ParseResolution(std::string_view text, ScanTicket* ticket) {
    const size_t x = text.find('x');
    int64_t horizontal = 0, vertical = 0;
    const bool parsed =
        x == std::string_view::npos
            ? ParseNumber(text, 1, ScanTicket::kMaxResolution, &horizontal) &&
                  (vertical = horizontal, true)
            : ParseNumber(text.substr(0, x), 1, ScanTicket::kMaxResolution, &horizontal) &&
                  ParseNumber(text.substr(x + 1), 1, ScanTicket::kMaxResolution, &vertical);
    if (!parsed) return false;
    ticket->xResolution = static_cast<int>(horizontal);
    ticket->yResolution = static_cast<int>(vertical);
    return true;
}

// left,top,width,height: an area within a few metres of bed, never empty.
bool ParseArea(std::string_view text, ScanTicket* ticket) {
    constexpr int64_t kLimit = int64_t(1000) * ScanTicket::kAreaUnitsPerInch;
    int64_t values[4] = {};
    for (int i = 0; i < 4; ++i) {
        const size_t comma = i < 3 ? text.find(',') : text.size();
        if (comma == std::string_view::npos) return false;
        if (!ParseNumber(text.substr(0, comma), i < 2 ? 0 : 1, kLimit, &values[i])) return false;
        text.remove_prefix(i < 3 ? comma + 1 : comma);
    }
    ticket->hasArea = true;
    ticket->areaLeft = values[0];
    ticket->areaTop = values[1];
    ticket->areaWidth = values[2];
    ticket->areaHeight = values[3];
    return true;
}

template <class Enum, size_t N>
bool ParseWord(std::string_view text, const char* const (&names)[N], Enum* value) {
    for (size_t i = 0; i < N; ++i) {
        if (text == names[i]) {
            *value = static_cast<Enum>(i);
            return true;
        }
    }
    return false;
}

constexpr const char* kInputNames[] = {"auto", "flatbed", "feeder", "duplex"};
constexpr const char* kColorNames[] = {"auto", "bw", "gray", "rgb"};

// One key's value into the ticket; false when the value is not one the key takes.
bool ParseValue(std::string_view key, std::string_view value, ScanTicket* ticket) {
    int64_t number = 0;
    if (key == "device") {
        // A product name fits TWAIN's 32 characters; no control characters.
        if (value.size() > 32) return false;
        for (const char c : value)
            if (static_cast<unsigned char>(c) < 0x20) return false;
        ticket->device = std::string(value);
        return true;
    }
    if (key == "input") return ParseWord(value, kInputNames, &ticket->input);
    if (key == "color") return ParseWord(value, kColorNames, &ticket->color);
    if (key == "resolution") return ParseResolution(value, ticket);
    if (key == "area") return ParseArea(value, ticket);
    if (key == "pages") {
        if (!ParseNumber(value, 0, 0x7fff, &number)) return false;
        ticket->pages = static_cast<int>(number);
        return true;
    }
    if (key == "ui") {
        if (value != "0" && value != "1") return false;
        ticket->showUi = value == "1";
        return true;
    }
    return false;
}

bool IsKey(std::string_view key) {
    static const std::set<std::string_view> keys = {"device", "input", "color", "resolution",
                                                    "area",   "pages", "ui"};
    return keys.count(key) != 0;
}

}  // namespace

const char* ScanTicket::InputName(Input input) { return kInputNames[static_cast<int>(input)]; }

const char* ScanTicket::ColorName(Color color) { return kColorNames[static_cast<int>(color)]; }

bool ScanTicket::Parse(const std::string& text, ScanTicket* ticket, std::string* error) {
    if (text.size() > kMaxTextBytes) {
        *error = "the ticket is longer than 4096 bytes";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        *error = "the ticket holds a zero byte";
        return false;
    }
    ScanTicket parsed;
    std::set<std::string> seen;
    std::string_view rest(text);
    int lineNumber = 0;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            *error = "line " + std::to_string(lineNumber) + " of the ticket is not key=value";
            return false;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (!IsKey(key)) {
            *error = "unknown key '" + std::string(key) + "' in the ticket";
            return false;
        }
        if (!seen.insert(std::string(key)).second) {
            *error = "the ticket gives '" + std::string(key) + "' twice";
            return false;
        }
        if (!ParseValue(key, value, &parsed)) {
            *error = "the ticket's " + std::string(key) + " cannot be '" + std::string(value) + "'";
            return false;
        }
    }
    *ticket = parsed;
    return true;
}

std::string ScanTicket::Text() const {
    std::string text;
    if (!device.empty()) text += "device=" + device + "\n";
    if (input != Input::Auto) text += std::string("input=") + InputName(input) + "\n";
    if (color != Color::Auto) text += std::string("color=") + ColorName(color) + "\n";
    if (xResolution > 0) {
        text += "resolution=" + std::to_string(xResolution);
        if (yResolution != xResolution) text += "x" + std::to_string(yResolution);
        text += "\n";
    }
    if (hasArea)
        text += "area=" + std::to_string(areaLeft) + "," + std::to_string(areaTop) + "," +
                std::to_string(areaWidth) + "," + std::to_string(areaHeight) + "\n";
    if (pages > 0) text += "pages=" + std::to_string(pages) + "\n";
    if (showUi) text += "ui=1\n";
    return text;
}
