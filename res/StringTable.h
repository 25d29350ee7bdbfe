// Velomark's string table: titles, status-bar prompts and tool tips by id.
#pragma once

#include <string>

namespace velomark::res {

// The string with that id, or null when the table has none.
const char* LoadResourceString(unsigned id);

// A command string's first line, shown in the status bar while its menu item or
// button is under the pointer; empty when the command has no string.
std::string CommandPrompt(unsigned commandId);

// A command string's second line, the button's tool tip; empty when there is none.
std::string CommandTip(unsigned commandId);

}  // namespace velomark::res
