#include "sources/sane/SaneDevice.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "sources/sane/SaneNumericOption.h"

namespace {

// Resolutions offered from a range, when the device gives a range rather than a list.
constexpr double kCommonResolutions[] = {50, 75, 100, 150, 200, 240, 300, 400, 600, 1200};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool ParseBool(const std::string& text, SANE_Bool* value) {
    const std::string word = Lower(text);
    if (word == "yes" || word == "true" || word == "on" || word == "1")
        *value = 1;
    else if (word == "no" || word == "false" || word == "off" || word == "0")
        *value = 0;
    else
        return false;
    return true;
}

bool ParseDouble(const std::string& text, double* value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    const auto [rest, error] = std::from_chars(begin, end, *value);
    return error == std::errc() && rest == end && std::isfinite(*value);
}

std::string NumberText(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::to_string(value);
}

}  // namespace

std::unique_ptr<SaneDevice> SaneDevice::Open(const SaneApi& api, const std::string& name,
                                             std::string* error) {
    SANE_Handle handle = nullptr;
    const SANE_Status status = api.open(name.c_str(), &handle);
    if (status != SANE_STATUS_GOOD || !handle) {
        *error = "cannot open " + name + ": " + api.StatusText(status);
        return nullptr;
    }
    return std::unique_ptr<SaneDevice>(new SaneDevice(api, handle, name));
}

SaneDevice::~SaneDevice() { m_api.close(m_handle); }

SANE_Int SaneDevice::Find(const std::string& name,
                          const SANE_Option_Descriptor** descriptor) const {
    // Option 0 is the number of options.
    for (SANE_Int option = 1;; ++option) {
        const SANE_Option_Descriptor* d = m_api.get_option_descriptor(m_handle, option);
        if (!d) return -1;
        if (d->name && name == d->name && d->type != SANE_TYPE_GROUP) {
            *descriptor = d;
            return option;
        }
    }
}

bool SaneDevice::SetOption(const std::string& name, const std::string& text, std::string* error) {
    const SANE_Option_Descriptor* d = nullptr;
    const SANE_Int option = Find(name, &d);
    if (option < 0) {
        *error = "the device has no option " + name;
        return false;
    }
    if (d->cap & SANE_CAP_INACTIVE) {
        *error = "option " + name + " is inactive";
        return false;
    }
    if (!(d->cap & SANE_CAP_SOFT_SELECT)) {
        *error = "option " + name + " cannot be set";
        return false;
    }
    std::vector<SANE_Word> words;
    std::vector<char> textValue;
    void* value = nullptr;
    const size_t count = std::max<size_t>(1, size_t(std::max(d->size, 0)) / sizeof(SANE_Word));
    switch (d->type) {
        case SANE_TYPE_BOOL: {
            SANE_Bool flag = 0;
            if (!ParseBool(text, &flag)) {
                *error = "option " + name + " takes yes or no, not \"" + text + "\"";
                return false;
            }
            words.assign(1, flag);
            value = words.data();
            break;
        }
        case SANE_TYPE_INT:
        case SANE_TYPE_FIXED: {
            double number = 0;
            if (!ParseDouble(text, &number) || std::fabs(number) > 32767.0 * 65536.0) {
                *error = "option " + name + " takes a number, not \"" + text + "\"";
                return false;
            }
            const SANE_Word word = d->type == SANE_TYPE_FIXED
                                       ? SaneFix(std::clamp(number, -32767.0, 32767.0))
                                       : static_cast<SANE_Word>(std::lround(number));
            words.assign(count, word);
            value = words.data();
            break;
        }
        case SANE_TYPE_STRING: {
            if (d->size <= 0 || text.size() >= size_t(d->size)) {
                *error = "the value of option " + name + " is too long";
                return false;
            }
            textValue.assign(size_t(d->size), '\0');
            std::memcpy(textValue.data(), text.data(), text.size());
            value = textValue.data();
            break;
        }
        case SANE_TYPE_BUTTON: break;
        default: *error = "option " + name + " has no value"; return false;
    }
    SANE_Int info = 0;
    const SANE_Status status =
        m_api.control_option(m_handle, option, SANE_ACTION_SET_VALUE, value, &info);
    if (status != SANE_STATUS_GOOD) {
        *error = "option " + name + "=" + text + ": " + m_api.StatusText(m_handle, status);
        return false;
    }
    return true;
}

bool SaneDevice::GetOption(const std::string& name, std::string* text) const {
    const SANE_Option_Descriptor* d = nullptr;
    const SANE_Int option = Find(name, &d);
    if (option < 0 || (d->cap & SANE_CAP_INACTIVE) || d->size <= 0) return false;
    std::vector<SANE_Word> buffer((size_t(d->size) + sizeof(SANE_Word) - 1) / sizeof(SANE_Word) +
                                  1);
    if (m_api.control_option(m_handle, option, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) !=
        SANE_STATUS_GOOD)
        return false;
    switch (d->type) {
        case SANE_TYPE_BOOL: *text = buffer[0] ? "yes" : "no"; return true;
        case SANE_TYPE_INT: *text = std::to_string(buffer[0]); return true;
        case SANE_TYPE_FIXED: *text = NumberText(SaneUnfix(buffer[0])); return true;
        case SANE_TYPE_STRING: {
            const char* chars = reinterpret_cast<const char*>(buffer.data());
            *text = std::string(chars, strnlen(chars, size_t(d->size)));
            return true;
        }
        default: return false;
    }
}

bool SaneDevice::Number(const std::string& name, double* value) const {
    std::string text;
    return GetOption(name, &text) && ParseDouble(text, value);
}

const SANE_Option_Descriptor* SaneDevice::Settable(const std::string& name) const {
    const SANE_Option_Descriptor* d = nullptr;
    if (Find(name, &d) < 0 || (d->cap & SANE_CAP_INACTIVE) || !(d->cap & SANE_CAP_SOFT_SELECT))
        return nullptr;
    return d;
}

SANE_Status SaneDevice::Control(const std::string& name, void* value, SANE_Int* info) {
    const SANE_Option_Descriptor* d = nullptr;
    const SANE_Int option = Find(name, &d);
    *info = 0;
    if (option < 0) return SANE_STATUS_UNSUPPORTED;
    m_applied = SaneSettings();
    return m_api.control_option(m_handle, option, SANE_ACTION_SET_VALUE, value, info);
}

SANE_Status SaneDevice::SetNumber(const std::string& name, double value, SANE_Int* info) {
    const SANE_Option_Descriptor* d = Settable(name);
    *info = 0;
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || !std::isfinite(value))
        return SANE_STATUS_INVAL;
    const SANE_Word word =
        d->type == SANE_TYPE_FIXED
            ? SaneFix(std::clamp(value, -32767.0, 32767.0))
            : static_cast<SANE_Word>(std::lround(std::clamp(value, -2147483647.0, 2147483647.0)));
    std::vector<SANE_Word> words(
        std::max<size_t>(1, size_t(std::max(d->size, 0)) / sizeof(SANE_Word)), word);
    return Control(name, words.data(), info);
}

SANE_Status SaneDevice::SetString(const std::string& name, const std::string& value,
                                  SANE_Int* info) {
    const SANE_Option_Descriptor* d = Settable(name);
    *info = 0;
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0 || value.size() >= size_t(d->size))
        return SANE_STATUS_INVAL;
    std::vector<char> text(size_t(d->size), '\0');
    std::memcpy(text.data(), value.data(), value.size());
    return Control(name, text.data(), info);
}

std::vector<std::string> SaneDevice::Apply(const SaneSettings& settings) {
    std::vector<std::string> refused;
    bool setOne = false;
    for (const auto& [name, value] : settings.InApplyOrder()) {
        const std::string* applied = m_applied.Find(name);
        if (!setOne && applied && *applied == value) continue;
        setOne = true;
        std::string error;
        if (SetOption(name, value, &error))
            m_applied.Set(name, value);
        else
            refused.push_back(error);
    }
    return refused;
}

SaneDeviceChoices SaneDevice::Choices() const {
    SaneDeviceChoices choices;
    const auto strings = [this](const char* name) {
        std::vector<std::string> list;
        const SANE_Option_Descriptor* d = nullptr;
        if (Find(name, &d) < 0 || d->type != SANE_TYPE_STRING ||
            d->constraint_type != SANE_CONSTRAINT_STRING_LIST || (d->cap & SANE_CAP_INACTIVE))
            return list;
        for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
            list.push_back(*s);
        return list;
    };
    choices.modes = strings("mode");
    choices.sources = strings("source");

    const SANE_Option_Descriptor* d = nullptr;
    if (Find("resolution", &d) >= 0 && (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED)) {
        const auto toDpi = [d](SANE_Word w) {
            return d->type == SANE_TYPE_FIXED ? SaneUnfix(w) : double(w);
        };
        if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
            for (SANE_Word i = 1; i <= d->constraint.word_list[0]; ++i)
                choices.resolutions.push_back(toDpi(d->constraint.word_list[i]));
        } else if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
            const double low = toDpi(d->constraint.range->min);
            const double high = toDpi(d->constraint.range->max);
            for (double dpi : kCommonResolutions)
                if (dpi >= low && dpi <= high) choices.resolutions.push_back(dpi);
        }
        double current = 0;
        if (Number("resolution", &current) &&
            std::find(choices.resolutions.begin(), choices.resolutions.end(), current) ==
                choices.resolutions.end()) {
            choices.resolutions.push_back(current);
            std::sort(choices.resolutions.begin(), choices.resolutions.end());
        }
    }
    const auto rangeMax = [this](const char* name) {
        const SANE_Option_Descriptor* o = nullptr;
        if (Find(name, &o) < 0 || o->unit != kSaneUnitMillimetre ||
            o->constraint_type != SANE_CONSTRAINT_RANGE || !o->constraint.range)
            return 0.0;
        return o->type == SANE_TYPE_FIXED ? SaneUnfix(o->constraint.range->max)
                                          : double(o->constraint.range->max);
    };
    choices.maxWidthMm = rangeMax("br-x");
    choices.maxHeightMm = rangeMax("br-y");
    return choices;
}

double SaneDevice::Resolution() const {
    double dpi = 0;
    if (Number("resolution", &dpi)) return dpi;
    if (Number("x-resolution", &dpi)) return dpi;
    return 0;
}

bool SaneDevice::IsFeederName(const std::string& source) {
    const std::string word = Lower(source);
    return word.find("feeder") != std::string::npos || word.find("adf") != std::string::npos ||
           word.find("duplex") != std::string::npos;
}

bool SaneDevice::FeedsSheets() const {
    std::string source;
    return GetOption("source", &source) && IsFeederName(source);
}
