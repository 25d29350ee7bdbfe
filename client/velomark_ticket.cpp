// The ticket's C functions: its defaults and its text.
#include <cstring>
#include <string>

#include "client/ClientHandle.h"
#include "client/TicketWriter.h"
#include "client/velomark_client.h"

extern "C" {

void velomark_ticket_init(velomark_ticket* ticket) {
    if (!ticket) return;
    std::memset(ticket, 0, sizeof(*ticket));
    ticket->input = VELOMARK_INPUT_AUTO;
    ticket->color = VELOMARK_COLOR_AUTO;
}

long velomark_ticket_text(const velomark_ticket* ticket, char* buffer, size_t size) {
    std::string& error = velomark::HandlelessError();
    error.clear();
    if (!ticket || (!buffer && size > 0)) {
        error = "no ticket, or no buffer for its text";
        return -VELOMARK_E_ARGUMENT;
    }
    std::string text;
    if (!velomark::TicketWriter::Write(*ticket, text, error)) return -VELOMARK_E_ARGUMENT;
    if (size <= text.size()) {
        error = "the ticket's text needs " + std::to_string(text.size() + 1) + " bytes";
        return -VELOMARK_E_BUFFER;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<long>(text.size());
}

}  // extern "C"
