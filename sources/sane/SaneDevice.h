// One open SANE device (sane_open .. sane_close) and its options by name. Options are
// set from text as their type reads it: a bool from yes/no, true/false, on/off or 1/0,
// a number for int and fixed (every element of an array gets it), the text for a
// string, anything for a button (which is pressed).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneSettings.h"

// What the window offers for a device.
struct SaneDeviceChoices {
    std::vector<std::string> modes;    // the "mode" option's list; empty when it has none
    std::vector<std::string> sources;  // the "source" option's list
    std::vector<double> resolutions;   // dpi values the "resolution" option takes
    double maxWidthMm = 0;             // the scan area's size; 0 when not in millimetres
    double maxHeightMm = 0;
};

class SaneDevice {
public:
    // Opens the device; null, with SANE's reason in *error, when it cannot be opened.
    static std::unique_ptr<SaneDevice> Open(const SaneApi& api, const std::string& name,
                                            std::string* error);
    // A device already open on `handle` (SaneRemoteDevice::Open), closed by this object.
    static std::unique_ptr<SaneDevice> Adopt(const SaneApi& api, SANE_Handle handle,
                                             const std::string& name) {
        return std::unique_ptr<SaneDevice>(new SaneDevice(api, handle, name));
    }
    ~SaneDevice();  // sane_close
    SaneDevice(const SaneDevice&) = delete;
    SaneDevice& operator=(const SaneDevice&) = delete;

    const SaneApi& Api() const { return m_api; }
    SANE_Handle Handle() const { return m_handle; }
    const std::string& Name() const { return m_name; }

    // Sets one option; false with the reason in *error.
    bool SetOption(const std::string& name, const std::string& value, std::string* error);
    // The option's value as text (numbers without trailing zeros); false when unreadable.
    bool GetOption(const std::string& name, std::string* value) const;
    // Sets the entries in the settings' apply order; one message per entry refused.
    // The leading entries that hold the values this device was last given are not set
    // again: setting an option may reset the device (a feeder's count of sheets), and
    // a network device answers each one over the wire. Once one entry is set, every
    // later one is, since it may have changed what they mean.
    std::vector<std::string> Apply(const SaneSettings& settings);

    // The option's descriptor when the device has it active and lets software set it;
    // null otherwise. Looked up afresh at each call, because setting an option may
    // reload every descriptor (SANE_INFO_RELOAD_OPTIONS): never keep one across a set.
    const SANE_Option_Descriptor* Settable(const std::string& name) const;
    // A numeric option's (first) value, a fixed one unfixed; false when unreadable.
    bool Number(const std::string& name, double* value) const;
    // Sets a settable numeric option (every element of an array) or string option, with
    // SANE's info flags in *info. Apply then sets all its entries again, since the
    // device no longer holds only what Apply gave it.
    SANE_Status SetNumber(const std::string& name, double value, SANE_Int* info);
    SANE_Status SetString(const std::string& name, const std::string& value, SANE_Int* info);

    SaneDeviceChoices Choices() const;
    // The "resolution" option in dpi; 0 when the device has none.
    double Resolution() const;
    // Whether the selected source feeds sheets (its name speaks of a feeder, ADF or
    // duplex): then a batch scans until the feeder is empty, else one page.
    bool FeedsSheets() const;
    static bool IsFeederName(const std::string& source);

private:
    SaneDevice(const SaneApi& api, SANE_Handle handle, std::string name)
        : m_api(api), m_handle(handle), m_name(std::move(name)) {}
    // The option's number and descriptor; -1 when the device has no such option.
    SANE_Int Find(const std::string& name, const SANE_Option_Descriptor** descriptor) const;
    SANE_Status Control(const std::string& name, void* value, SANE_Int* info);

    const SaneApi& m_api;
    SANE_Handle m_handle;
    std::string m_name;
    SaneSettings m_applied;  // the values last set successfully
};
