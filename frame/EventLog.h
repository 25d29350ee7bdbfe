// A line per notable event (document opened, image handed off, message box shown)
// appended to the file named by VELOMARK_EVENT_LOG. A test aid: without the
// variable nothing is written.
#pragma once

#include <string>

namespace velomark {

void ReportEvent(const std::string& line);

}  // namespace velomark
