#include "sources/sane/SaneStandardOptions.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "sources/sane/SaneDevice.h"
#include "sources/sane/SaneSettings.h"

namespace {

constexpr double kMillimetresPerInch = 25.4;
// The device's own sensor for paper in the feeder, where it has one.
constexpr const char* kPaperSensor = "page-loaded";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Contains(const std::string& text, const char* word) {
    return Lower(text).find(word) != std::string::npos;
}

bool IsDuplexName(const std::string& source) { return Contains(source, "duplex"); }

// TWPT_* for a mode name; -1 for a mode that is none of them (infrared, say).
int PixelTypeOfMode(const std::string& mode) {
    for (const char* word : {"lineart", "binary", "halftone"})
        if (Contains(mode, word)) return TWPT_BW;
    if (Contains(mode, "gray") || Contains(mode, "grey")) return TWPT_GRAY;
    if (Contains(mode, "color") || Contains(mode, "colour")) return TWPT_RGB;
    return -1;
}

int BitsOfPixelType(TW_UINT16 type) { return type == TWPT_BW ? 1 : type == TWPT_GRAY ? 8 : 24; }

SaneSetOutcome Worse(SaneSetOutcome a, SaneSetOutcome b) { return std::max(a, b); }

}  // namespace

void SaneStandardOptions::PrepareOnce() {
    if (m_prepared) return;
    m_prepared = true;
    // What the device refuses here, the batch tries again and reports.
    m_device.Apply(m_settings);
}

std::vector<std::string> SaneStandardOptions::Sources() const {
    std::vector<std::string> list;
    const SANE_Option_Descriptor* d = m_device.Settable("source");
    if (!d || d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST)
        return list;
    for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s) list.push_back(*s);
    return list;
}

std::string SaneStandardOptions::CurrentText(const char* name) const {
    std::string value;
    return m_device.Settable(name) && m_device.GetOption(name, &value) ? value : std::string();
}

void SaneStandardOptions::Note(const char* name) {
    std::string value;
    if (m_device.GetOption(name, &value)) m_settings.Set(name, value);
}

SaneSetOutcome SaneStandardOptions::SetChoice(const char* name, const std::string& value) {
    SANE_Int info = 0;
    const SANE_Status status = m_device.SetString(name, value, &info);
    if (status == SANE_STATUS_INVAL) return SaneSetOutcome::BadValue;
    if (status != SANE_STATUS_GOOD) return SaneSetOutcome::Failed;
    Note(name);
    return info & SANE_INFO_INEXACT ? SaneSetOutcome::Nearest : SaneSetOutcome::Exact;
}

bool SaneStandardOptions::NumericOption(const char* name, SaneNumericOption* option) const {
    const SANE_Option_Descriptor* d = m_device.Settable(name);
    return d && SaneNumericOption::From(*d, option);
}

SaneSetOutcome SaneStandardOptions::SetNumber(const char* name, double value) {
    SaneNumericOption option;
    if (!NumericOption(name, &option)) return SaneSetOutcome::Unsupported;
    const double nearest = option.Nearest(value);
    SANE_Int info = 0;
    const SANE_Status status = m_device.SetNumber(name, nearest, &info);
    if (status == SANE_STATUS_INVAL) return SaneSetOutcome::BadValue;
    if (status != SANE_STATUS_GOOD) return SaneSetOutcome::Failed;
    Note(name);
    double held = nearest;
    m_device.Number(name, &held);
    const bool exact = !(info & SANE_INFO_INEXACT) && option.Same(held, value);
    return exact ? SaneSetOutcome::Exact : SaneSetOutcome::Nearest;
}

bool SaneStandardOptions::HasFeeder() const {
    const std::vector<std::string> sources = Sources();
    return std::any_of(sources.begin(), sources.end(), SaneDevice::IsFeederName);
}

bool SaneStandardOptions::HasDuplex() const {
    const std::vector<std::string> sources = Sources();
    return std::any_of(sources.begin(), sources.end(), IsDuplexName);
}

bool SaneStandardOptions::FeederEnabled() const {
    return SaneDevice::IsFeederName(CurrentText("source"));
}

bool SaneStandardOptions::DuplexEnabled() const { return IsDuplexName(CurrentText("source")); }

SaneSetOutcome SaneStandardOptions::SetFeederEnabled(bool enabled) {
    const std::vector<std::string> sources = Sources();
    if (!HasFeeder()) return SaneSetOutcome::Unsupported;
    if (FeederEnabled() == enabled) return SaneSetOutcome::Exact;
    const auto first = [&sources](auto fits) {
        const auto found = std::find_if(sources.begin(), sources.end(), fits);
        return found == sources.end() ? std::string() : *found;
    };
    std::string choice;
    if (enabled) {
        choice = first(
            [](const std::string& s) { return SaneDevice::IsFeederName(s) && !IsDuplexName(s); });
        if (choice.empty()) choice = first(SaneDevice::IsFeederName);
    } else {
        choice = first([](const std::string& s) { return Contains(s, "flatbed"); });
        if (choice.empty())
            choice = first([](const std::string& s) { return !SaneDevice::IsFeederName(s); });
    }
    if (choice.empty()) return SaneSetOutcome::BadValue;
    return SetChoice("source", choice);
}

SaneSetOutcome SaneStandardOptions::SetDuplexEnabled(bool enabled) {
    const std::vector<std::string> sources = Sources();
    if (!HasDuplex()) return SaneSetOutcome::Unsupported;
    if (DuplexEnabled() == enabled) return SaneSetOutcome::Exact;
    // Turning duplex off keeps the feeder where the device has a one-sided one.
    const auto fits = [enabled](const std::string& s) {
        return enabled ? IsDuplexName(s) : SaneDevice::IsFeederName(s) && !IsDuplexName(s);
    };
    auto found = std::find_if(sources.begin(), sources.end(), fits);
    if (found == sources.end() && !enabled)
        found = std::find_if(sources.begin(), sources.end(),
                             [](const std::string& s) { return !IsDuplexName(s); });
    if (found == sources.end()) return SaneSetOutcome::BadValue;
    return SetChoice("source", *found);
}

bool SaneStandardOptions::FeederLoaded(bool* loaded) const {
    std::string value;
    if (!m_device.GetOption(kPaperSensor, &value) || (value != "yes" && value != "no"))
        return false;
    *loaded = value == "yes";
    return true;
}

std::vector<TW_UINT16> SaneStandardOptions::PixelTypes() const {
    std::vector<TW_UINT16> types;
    const SANE_Option_Descriptor* d = m_device.Settable("mode");
    if (!d || d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST)
        return types;
    for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s) {
        const int type = PixelTypeOfMode(*s);
        if (type >= 0) types.push_back(TW_UINT16(type));
    }
    SaneNumericOption depth;
    const bool bwByDepth = NumericOption("depth", &depth) && depth.Same(depth.Nearest(1), 1);
    const auto has = [&types](TW_UINT16 type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    if (!has(TWPT_BW) && has(TWPT_GRAY) && bwByDepth) types.push_back(TWPT_BW);
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    return types;
}

bool SaneStandardOptions::PixelType(TW_UINT16* type) const {
    const int mode = PixelTypeOfMode(CurrentText("mode"));
    if (mode < 0) return false;
    double depth = 0;
    const bool greyAtOneBit = mode == TWPT_GRAY && m_device.Settable("depth") &&
                              m_device.Number("depth", &depth) && depth == 1;
    *type = greyAtOneBit ? TWPT_BW : TW_UINT16(mode);
    return true;
}

SaneSetOutcome SaneStandardOptions::SetPixelType(TW_UINT16 type) {
    const std::vector<TW_UINT16> types = PixelTypes();
    if (types.empty()) return SaneSetOutcome::Unsupported;
    if (std::find(types.begin(), types.end(), type) == types.end()) return SaneSetOutcome::BadValue;
    const SANE_Option_Descriptor* d = m_device.Settable("mode");
    std::string mode, grey;
    for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s) {
        if (mode.empty() && PixelTypeOfMode(*s) == type) mode = *s;
        if (grey.empty() && PixelTypeOfMode(*s) == TWPT_GRAY) grey = *s;
    }
    const bool byDepth = mode.empty();  // black and white as grey at depth 1
    SaneSetOutcome outcome = SetChoice("mode", byDepth ? grey : mode);
    if (outcome > SaneSetOutcome::Nearest) return outcome;
    // The mode may have brought other depths; a page of 1-bit colour cannot be handed over.
    double depth = 0;
    if (byDepth)
        outcome = Worse(outcome, SetNumber("depth", 1));
    else if (type != TWPT_BW && m_device.Settable("depth") && m_device.Number("depth", &depth) &&
             depth == 1)
        outcome = Worse(outcome, SetNumber("depth", 8));
    return outcome;
}

bool SaneStandardOptions::BitDepth(int* bits) const {
    TW_UINT16 type = 0;
    if (!PixelType(&type)) return false;
    *bits = BitsOfPixelType(type);
    return true;
}

SaneSetOutcome SaneStandardOptions::SetBitDepth(int bits) {
    TW_UINT16 type = 0;
    if (!PixelType(&type)) return SaneSetOutcome::Unsupported;
    if (bits != BitsOfPixelType(type)) return SaneSetOutcome::BadValue;
    // Pages carry 8 bits per sample whatever the device reads; it need not read 16.
    const double wanted = type == TWPT_BW ? 1 : 8;
    SaneNumericOption depth;
    double current = 0;
    if (NumericOption("depth", &depth) && m_device.Number("depth", &current) && current != wanted &&
        depth.Same(depth.Nearest(wanted), wanted)) {
        const SaneSetOutcome outcome = SetNumber("depth", wanted);
        return outcome == SaneSetOutcome::Nearest ? SaneSetOutcome::Exact : outcome;
    }
    return SaneSetOutcome::Exact;
}

bool SaneStandardOptions::Resolution(Axis axis, SaneNumericOption* option, double* dpi) const {
    const char* own = axis == Axis::X ? "x-resolution" : "y-resolution";
    for (const char* name : {own, "resolution"})
        if (NumericOption(name, option)) return m_device.Number(name, dpi);
    return false;
}

SaneSetOutcome SaneStandardOptions::SetResolution(Axis axis, double dpi) {
    if (!(dpi > 0)) return SaneSetOutcome::BadValue;
    SaneNumericOption option;
    const bool hasCommon = NumericOption("resolution", &option);
    const char* own = axis == Axis::X ? "x-resolution" : "y-resolution";
    const bool hasOwn = NumericOption(own, &option);
    if (!hasCommon && !hasOwn) return SaneSetOutcome::Unsupported;
    // Y has its own option where the device resolves the axes apart; X is "resolution".
    SaneSetOutcome outcome = SaneSetOutcome::Exact;
    if (hasCommon && (axis == Axis::X || !hasOwn)) outcome = SetNumber("resolution", dpi);
    if (hasOwn && outcome <= SaneSetOutcome::Nearest) outcome = Worse(outcome, SetNumber(own, dpi));
    return outcome;
}

double SaneStandardOptions::InchesPerUnit(const SaneNumericOption& option, Axis axis) const {
    if (option.Unit() == kSaneUnitMillimetre) return 1 / kMillimetresPerInch;
    SaneNumericOption resolution;
    double dpi = 0;
    if (option.Unit() == kSaneUnitPixel && Resolution(axis, &resolution, &dpi) && dpi > 0)
        return 1 / dpi;
    return 0;
}

namespace {

struct AreaOption {
    const char* name;
    SaneStandardOptions::Axis axis;
    double SaneAreaInches::*edge;
};
constexpr AreaOption kAreaOptions[] = {
    {"tl-x", SaneStandardOptions::Axis::X, &SaneAreaInches::left},
    {"tl-y", SaneStandardOptions::Axis::Y, &SaneAreaInches::top},
    {"br-x", SaneStandardOptions::Axis::X, &SaneAreaInches::right},
    {"br-y", SaneStandardOptions::Axis::Y, &SaneAreaInches::bottom},
};

}  // namespace

bool SaneStandardOptions::Area(SaneAreaInches* area) const {
    for (const AreaOption& edge : kAreaOptions) {
        SaneNumericOption option;
        double value = 0;
        if (!NumericOption(edge.name, &option) || !m_device.Number(edge.name, &value)) return false;
        const double scale = InchesPerUnit(option, edge.axis);
        if (scale <= 0) return false;
        area->*edge.edge = value * scale;
    }
    return true;
}

bool SaneStandardOptions::WholeArea(SaneAreaInches* area) const {
    for (const AreaOption& edge : kAreaOptions) {
        SaneNumericOption option;
        if (!NumericOption(edge.name, &option) ||
            option.Kind() != SaneNumericOption::Constraint::Range)
            return false;
        const double scale = InchesPerUnit(option, edge.axis);
        if (scale <= 0) return false;
        const bool topLeft = edge.name[0] == 't';
        area->*edge.edge = (topLeft ? option.Min() : option.Max()) * scale;
    }
    return true;
}

SaneSetOutcome SaneStandardOptions::SetArea(const SaneAreaInches& area) {
    if (!(area.left >= 0 && area.top >= 0 && area.right > area.left && area.bottom > area.top))
        return SaneSetOutcome::BadValue;
    SaneAreaInches current;
    if (!Area(&current)) return SaneSetOutcome::Unsupported;
    // Each axis is set so that its top-left never passes its bottom-right on the way.
    const bool rightFirst = area.left >= current.right;
    const bool bottomFirst = area.top >= current.bottom;
    const AreaOption order[] = {kAreaOptions[rightFirst ? 2 : 0], kAreaOptions[bottomFirst ? 3 : 1],
                                kAreaOptions[rightFirst ? 0 : 2],
                                kAreaOptions[bottomFirst ? 1 : 3]};
    SaneSetOutcome outcome = SaneSetOutcome::Exact;
    for (const AreaOption& edge : order) {
        SaneNumericOption option;
        if (!NumericOption(edge.name, &option)) return SaneSetOutcome::Unsupported;
        const double scale = InchesPerUnit(option, edge.axis);
        if (scale <= 0) return SaneSetOutcome::Unsupported;
        outcome = Worse(outcome, SetNumber(edge.name, area.*edge.edge / scale));
        if (outcome > SaneSetOutcome::Nearest) return outcome;
    }
    return outcome;
}
