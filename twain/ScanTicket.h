// How to scan: the settings a client asks an acquisition for. Its text form is
// UTF-8 `key=value` lines (device, input, color, resolution, area, pages, ui), at
// most kMaxTextBytes; a key left out takes its default, and a malformed line, a key
// given twice or an unknown key or value refuses the whole text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ScanTicket {
    static constexpr size_t kMaxTextBytes = 4096;
    // Areas are in 1/1200 inch.
    static constexpr int kAreaUnitsPerInch = 1200;
    static constexpr int kMaxResolution = 19200;

    enum class Input { Auto, Flatbed, Feeder, Duplex };
    enum class Color { Auto, BlackWhite, Gray, Rgb };

    std::string device;  // a source's product name; empty: the default source
    Input input = Input::Auto;
    Color color = Color::Auto;
    int xResolution = 0;  // dpi; 0: the source's own
    int yResolution = 0;
    bool hasArea = false;  // false: the whole bed
    int64_t areaLeft = 0;
    int64_t areaTop = 0;
    int64_t areaWidth = 0;
    int64_t areaHeight = 0;
    int pages = 0;  // 0: all the feeder holds
    bool showUi = false;

    // False with a sentence in *error ("unknown key 'dpi'"); *ticket is left as it was.
    static bool Parse(const std::string& text, ScanTicket* ticket, std::string* error);
    // The text form, keys that differ from the defaults only.
    std::string Text() const;

    static const char* InputName(Input input);
    static const char* ColorName(Color color);

    bool operator==(const ScanTicket&) const = default;
};
