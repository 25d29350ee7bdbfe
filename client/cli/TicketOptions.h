// The acquire options that make a ticket (--device, --source, --mode,
// --resolution, --area), read into the library's velomark_ticket.
#pragma once

#include <string>

#include "client/velomark_client.h"

namespace velomark {

class TicketOptions {
public:
    TicketOptions() { velomark_ticket_init(&m_ticket); }

    // Whether `option` is one of the ticket's options (each takes a value).
    static bool Takes(const std::string& option);
    // Reads the option's value; false with a usage sentence in `error`.
    bool Parse(const std::string& option, const char* value, std::string& error);
    // Whether any ticket option was given: the stream is then a ticketed one.
    bool Given() const { return m_given; }
    // The ticket with `pages` pages (0: all); its device points into this object.
    velomark_ticket Ticket(uint32_t pages) const;

    // Millimetres (digits with at most one '.') as 1/1200 inch, rounded to nearest;
    // false for anything else.
    static bool MillimetresToUnits(const std::string& text, uint32_t& units);

private:
    bool ParseResolution(const std::string& value);
    bool ParseArea(const std::string& value);

    velomark_ticket m_ticket;
    std::string m_device;
    bool m_given = false;
};

}  // namespace velomark
