// What a source can do, as its capabilities answer MSG_GET: its inputs, colours,
// resolutions (a list or a range), the size of its bed and whether its feeder holds
// paper. Lengths are in 1/1200 inch, as a ticket's area.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SourceAbilities {
    std::string name;
    std::string manufacturer;
    bool isDefault = false;
    // Why the source could not be asked (then nothing below is known).
    std::string error;

    bool flatbed = false;
    bool feeder = false;
    bool duplex = false;
    bool blackWhite = false;
    bool gray = false;
    bool rgb = false;

    std::vector<int> resolutions;  // a list; empty for a range or when unknown
    bool resolutionRange = false;
    int minResolution = 0;
    int maxResolution = 0;
    int resolutionStep = 0;

    bool hasBed = false;
    int64_t bedWidth = 0;
    int64_t bedHeight = 0;
    int feederLoaded = -1;  // -1: the source does not tell
};
