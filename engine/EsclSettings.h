// A client's eSCL ScanSettings document as a ticket and the format its pages are
// to have. Elements are matched by namespace URI and local name, never by prefix;
// what a client leaves out takes the ticket's defaults. A document type, an entity
// or anything malformed refuses the whole document.
#pragma once

#include <string>

#include "twain/ScanTicket.h"

namespace velomark {

enum class PageFormat { Jpeg, Png, Pdf };

struct EsclSettings {
    ScanTicket ticket;
    PageFormat format = PageFormat::Jpeg;

    // False with a sentence in *error; *settings is left as it was.
    static bool Parse(const std::string& xml, EsclSettings* settings, std::string* error);
};

const char* PageFormatMime(PageFormat format);

}  // namespace velomark
