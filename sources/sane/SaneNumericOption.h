// A numeric SANE option's type, unit and constraint, copied out of its descriptor so
// that they stay valid when the device reloads its options (SANE_INFO_RELOAD_OPTIONS),
// with values as plain numbers (a SANE_TYPE_FIXED word unfixed).
#pragma once

#include <vector>

#include "sources/sane/SaneApi.h"

// SANE's units, as SANE_Option_Descriptor::unit holds them.
constexpr SANE_Int kSaneUnitPixel = 1;
constexpr SANE_Int kSaneUnitMillimetre = 3;

class SaneNumericOption {
public:
    enum class Constraint { None, Range, List };

    // False for an option that is neither SANE_TYPE_INT nor SANE_TYPE_FIXED.
    static bool From(const SANE_Option_Descriptor& descriptor, SaneNumericOption* option);

    Constraint Kind() const { return m_kind; }
    SANE_Int Unit() const { return m_unit; }
    bool Fixed() const { return m_fixed; }
    // A range's bounds and step (0: any value between them).
    double Min() const { return m_min; }
    double Max() const { return m_max; }
    double Step() const { return m_step; }
    // A word list's values, in the device's order.
    const std::vector<double>& Values() const { return m_values; }

    // The value the option can hold that is nearest to `value`: clamped to a range and
    // put on its steps, the closest of a list, a whole number for an int option, a
    // multiple of 1/65536 for a fixed one.
    double Nearest(double value) const;
    // Whether two values are the same once the option holds them.
    bool Same(double a, double b) const;

private:
    double Representable(double value) const;

    Constraint m_kind = Constraint::None;
    SANE_Int m_unit = 0;
    bool m_fixed = false;
    double m_min = 0;
    double m_max = 0;
    double m_step = 0;
    std::vector<double> m_values;
};
