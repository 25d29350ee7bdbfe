// A device's standard options (source, mode, depth, resolution, the scan area) in the
// terms a TWAIN application negotiates them: feeder and duplex, pixel types, bits per
// pixel, dots per inch and inches from the bed's top-left corner. Only options that
// are active and settable count; an option the device lacks makes the matching
// question Unsupported.
//
// Every value set is read back from the device and noted in the batch's settings, so
// the next batch scans with what the device took. Before the first question the batch's
// settings (remembered, VELOMARK_SANE_OPTIONS) are put on the device once, so that
// answers describe the device as the batch will find it.
#pragma once

#include <string>
#include <vector>

#include "sources/sane/SaneNumericOption.h"
#include "twain/TwainTypes.h"

class SaneDevice;
class SaneSettings;

// How a request went: taken as asked; taken as the nearest value the device holds; a
// value the device cannot take; no option for it; the device failed.
enum class SaneSetOutcome { Exact, Nearest, BadValue, Unsupported, Failed };

// A scan area in inches.
struct SaneAreaInches {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};

class SaneStandardOptions {
public:
    enum class Axis { X, Y };

    SaneStandardOptions(SaneDevice& device, SaneSettings& settings)
        : m_device(device), m_settings(settings) {}

    // Puts the batch's settings on the device, the first time only.
    void PrepareOnce();

    // The source option: a feeder is a source named "ADF", "... Feeder ..." or
    // "... Duplex ...", duplex one whose name has "Duplex"; a flatbed is preferably
    // named "Flatbed", else any other source.
    bool HasFeeder() const;
    bool HasDuplex() const;
    bool FeederEnabled() const;
    bool DuplexEnabled() const;
    SaneSetOutcome SetFeederEnabled(bool enabled);
    SaneSetOutcome SetDuplexEnabled(bool enabled);
    // The device's paper sensor ("page-loaded"); false when it has none.
    bool FeederLoaded(bool* loaded) const;

    // TWPT_BW, TWPT_GRAY, TWPT_RGB as the mode list offers them ("Lineart", "Binary",
    // "Halftone"; "Gray"; "Color"), in that order; black and white also as grey at depth
    // 1 when the list has no such mode. Empty when the device has no mode option.
    std::vector<TW_UINT16> PixelTypes() const;
    bool PixelType(TW_UINT16* type) const;
    SaneSetOutcome SetPixelType(TW_UINT16 type);
    // The bits per pixel of a page in the current pixel type: 1, 8 or 24.
    bool BitDepth(int* bits) const;
    SaneSetOutcome SetBitDepth(int bits);

    // The option behind an axis' resolution (x-resolution, y-resolution, else
    // resolution) and its value in dpi.
    bool Resolution(Axis axis, SaneNumericOption* option, double* dpi) const;
    // Sets resolution and x-resolution for X, y-resolution (else resolution) for Y.
    SaneSetOutcome SetResolution(Axis axis, double dpi);

    // tl-x, tl-y, br-x, br-y in millimetres, or in pixels at the axis' resolution.
    bool Area(SaneAreaInches* area) const;
    // The largest area: from the top-left ranges' minima to the bottom-right maxima.
    bool WholeArea(SaneAreaInches* area) const;
    SaneSetOutcome SetArea(const SaneAreaInches& area);

private:
    std::vector<std::string> Sources() const;
    std::string CurrentText(const char* name) const;
    SaneSetOutcome SetChoice(const char* name, const std::string& value);
    SaneSetOutcome SetNumber(const char* name, double value);
    bool NumericOption(const char* name, SaneNumericOption* option) const;
    // Inches per unit of an area option; 0 when its unit is neither mm nor pixels.
    double InchesPerUnit(const SaneNumericOption& option, Axis axis) const;
    void Note(const char* name);

    SaneDevice& m_device;
    SaneSettings& m_settings;
    bool m_prepared = false;
};
