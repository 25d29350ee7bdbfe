// The modal "Select Source" dialog. Its interface carries no wx types, so the
// rest of the DSM builds without wx headers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class SourceSelectDialog {
public:
    // True on the main thread of a running wx GUI application.
    static bool CanShow();
    // Lists the product names with `preselected` selected, and the libraries'
    // notes under the list, and waits for the user: the chosen index, or nothing
    // when the user cancels.
    static std::optional<size_t> Choose(const std::vector<std::string>& productNames,
                                        size_t preselected,
                                        const std::vector<std::string>& notes = {});

    // The window names of the dialog and its list, by which tests find them.
    static constexpr const char* kDialogName = "velomarkSelectSource";
    static constexpr const char* kListName = "velomarkSourceList";
    static constexpr const char* kNoteName = "velomarkSourceNote";
};
