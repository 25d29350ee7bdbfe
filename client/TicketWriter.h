// A ticket's text: the "key=value" lines of one scan job's settings, written from
// the C struct with every value checked, so that no caller formats one by hand.
#pragma once

#include <string>

#include "client/velomark_client.h"

namespace velomark {

class TicketWriter {
public:
    // The ticket's text in `text`; false with the refused value named in `error`.
    // The keys come in one order, input, color and ui always, the others when set,
    // so that a ticket is never empty.
    static bool Write(const velomark_ticket& ticket, std::string& text, std::string& error);

private:
    static bool CheckDevice(const char* device, std::string& error);
};

}  // namespace velomark
