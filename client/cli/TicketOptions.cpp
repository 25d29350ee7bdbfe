#include "client/cli/TicketOptions.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

namespace velomark {

namespace {

constexpr double kUnitsPerMillimetre = 1200 / 25.4;

// A positive decimal integer that fits 32 bits.
bool ParsePositive(const std::string& text, uint32_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed == 0 || parsed > UINT32_MAX) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text + separator);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

}  // namespace

bool TicketOptions::Takes(const std::string& option) {
    return option == "--device" || option == "--source" || option == "--mode" ||
           option == "--resolution" || option == "--area";
}

bool TicketOptions::MillimetresToUnits(const std::string& text, uint32_t& units) {
    const size_t digits = text.find_first_not_of("0123456789.");
    if (text.empty() || digits != std::string::npos || text.find('.') != text.rfind('.') ||
        text == ".")
        return false;
    const double rounded = std::round(std::strtod(text.c_str(), nullptr) * kUnitsPerMillimetre);
    if (!std::isfinite(rounded) || rounded > INT32_MAX) return false;
    units = static_cast<uint32_t>(rounded);
    return true;
}

bool TicketOptions::ParseResolution(const std::string& value) {
    const size_t x = value.find('x');
    if (x == std::string::npos) return ParsePositive(value, m_ticket.x_resolution);
    return ParsePositive(value.substr(0, x), m_ticket.x_resolution) &&
           ParsePositive(value.substr(x + 1), m_ticket.y_resolution);
}

bool TicketOptions::ParseArea(const std::string& value) {
    const std::vector<std::string> parts = Split(value, ',');
    if (parts.size() != 4 || !MillimetresToUnits(parts[0], m_ticket.area_left) ||
        !MillimetresToUnits(parts[1], m_ticket.area_top) ||
        !MillimetresToUnits(parts[2], m_ticket.area_width) ||
        !MillimetresToUnits(parts[3], m_ticket.area_height) || m_ticket.area_width == 0 ||
        m_ticket.area_height == 0)
        return false;
    m_ticket.has_area = 1;
    return true;
}

bool TicketOptions::Parse(const std::string& option, const char* value, std::string& error) {
    static const std::map<std::string, int> inputs = {{"flatbed", VELOMARK_INPUT_FLATBED},
                                                      {"feeder", VELOMARK_INPUT_FEEDER},
                                                      {"duplex", VELOMARK_INPUT_DUPLEX}};
    static const std::map<std::string, int> modes = {
        {"color", VELOMARK_COLOR_RGB}, {"gray", VELOMARK_COLOR_GRAY}, {"bw", VELOMARK_COLOR_BW}};
    m_given = true;
    const std::string text = value;
    if (option == "--device") {
        m_device = text;
        return true;
    }
    if (option == "--source") {
        const auto found = inputs.find(text);
        if (found != inputs.end()) {
            m_ticket.input = found->second;
            return true;
        }
        error = "--source takes flatbed, feeder or duplex, not '" + text + "'";
        return false;
    }
    if (option == "--mode") {
        const auto found = modes.find(text);
        if (found != modes.end()) {
            m_ticket.color = found->second;
            return true;
        }
        error = "--mode takes color, gray or bw, not '" + text + "'";
        return false;
    }
    if (option == "--resolution") {
        if (ParseResolution(text)) return true;
        error = "--resolution takes dots per inch (300) or XxY (300x600), not '" + text + "'";
        return false;
    }
    if (ParseArea(text)) return true;
    error = "--area takes X,Y,W,H in millimetres (width and height above 0), not '" + text + "'";
    return false;
}

velomark_ticket TicketOptions::Ticket(uint32_t pages) const {
    velomark_ticket ticket = m_ticket;
    ticket.device = m_device.c_str();
    ticket.pages = pages;
    return ticket;
}

}  // namespace velomark
