// What a SANE session knows of its window, so that the core needs no toolkit: the
// window itself lives in the source module.
#pragma once

#include <functional>
#include <string>

#include "sources/common/SourceUi.h"
#include "sources/sane/SaneDevice.h"
#include "sources/sane/SaneSettings.h"

class SaneSession;

// What the window shows when it opens.
struct SaneUiModel {
    std::string title;       // the source's product name
    std::string deviceName;  // SANE's name of the device
    SaneDeviceChoices choices;
    // The options the window starts from: remembered or given, with the device's
    // current mode, resolution, source and scan area filled in where they were not.
    SaneSettings settings;
};

// Makes the window for an enabled session; null when no window can be shown (no
// graphical application, or not on its thread).
using SaneUiFactory = std::function<SourceUi*(SaneSession& session, const SaneUiModel& model)>;
