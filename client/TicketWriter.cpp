#include "client/TicketWriter.h"

#include <cstring>

namespace velomark {

namespace {

const char* const kInputs[] = {"auto", "flatbed", "feeder", "duplex"};
const char* const kColors[] = {"auto", "bw", "gray", "rgb"};

// The length of the well-formed UTF-8 sequence at `p` (of `left` bytes), 0 if none:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
    if (p[0] < 0x80) return 1;
    // The lead byte tells the length, the smallest code point of that length and
    // its own bits of the code point.
    size_t length = 0;
    unsigned lowest = 0;
    unsigned code = 0;
    if ((p[0] & 0xE0) == 0xC0) {
        length = 2;
        lowest = 0x80;
        code = p[0] & 0x1Fu;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3;
        lowest = 0x800;
        code = p[0] & 0x0Fu;
    } else if ((p[0] & 0xF8) == 0xF0) {
        length = 4;
        lowest = 0x10000;
        code = p[0] & 0x07u;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

bool TicketWriter::CheckDevice(const char* device, std::string& error) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(device);
    const size_t size = std::strlen(device);
    // A leading space would read as a space after '='.
    if (bytes[0] == ' ') {
        error = "a device name cannot start with a space";
        return false;
    }
    for (size_t at = 0; at < size;) {
        if (bytes[at] < 0x20 || bytes[at] == 0x7F) {
            error = "a device name cannot hold a line break or another control character";
            return false;
        }
        const size_t length = Utf8SequenceLength(bytes + at, size - at);
        if (length == 0) {
            error = "the device name is not UTF-8";
            return false;
        }
        at += length;
    }
    return true;
}

bool TicketWriter::Write(const velomark_ticket& ticket, std::string& text, std::string& error) {
    text.clear();
    if (ticket.device && *ticket.device) {
        if (!CheckDevice(ticket.device, error)) return false;
        text += "device=" + std::string(ticket.device) + "\n";
    }
    if (ticket.input < VELOMARK_INPUT_AUTO || ticket.input > VELOMARK_INPUT_DUPLEX) {
        error =
            "input " + std::to_string(ticket.input) + " is none of auto, flatbed, feeder, duplex";
        return false;
    }
    text += std::string("input=") + kInputs[ticket.input] + "\n";
    if (ticket.color < VELOMARK_COLOR_AUTO || ticket.color > VELOMARK_COLOR_RGB) {
        error = "color " + std::to_string(ticket.color) + " is none of auto, bw, gray, rgb";
        return false;
    }
    text += std::string("color=") + kColors[ticket.color] + "\n";
    if (ticket.x_resolution == 0 && ticket.y_resolution != 0) {
        error = "a y resolution needs an x resolution";
        return false;
    }
    if (ticket.x_resolution != 0) {
        text += "resolution=" + std::to_string(ticket.x_resolution);
        if (ticket.y_resolution != 0 && ticket.y_resolution != ticket.x_resolution)
            text += "x" + std::to_string(ticket.y_resolution);
        text += "\n";
    }
    if (ticket.has_area) {
        if (ticket.area_width == 0 || ticket.area_height == 0) {
            error = "the area's width and height must be at least 1 (1/1200 inch)";
            return false;
        }
        text += "area=" + std::to_string(ticket.area_left) + "," + std::to_string(ticket.area_top) +
                "," + std::to_string(ticket.area_width) + "," + std::to_string(ticket.area_height) +
                "\n";
    }
    if (ticket.pages != 0) text += "pages=" + std::to_string(ticket.pages) + "\n";
    if (ticket.ui != 0 && ticket.ui != 1) {
        error = "ui " + std::to_string(ticket.ui) + " is neither 0 nor 1";
        return false;
    }
    text += "ui=" + std::to_string(ticket.ui) + "\n";
    if (text.size() > VELOMARK_TICKET_MAX) {
        error = "the ticket needs " + std::to_string(text.size()) + " bytes, at most " +
                std::to_string(VELOMARK_TICKET_MAX) + " are allowed";
        return false;
    }
    return true;
}

}  // namespace velomark
