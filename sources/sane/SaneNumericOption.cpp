#include "sources/sane/SaneNumericOption.h"

#include <algorithm>
#include <cmath>

namespace {

// Two values a fixed option cannot tell apart, with room for rounding on the way.
constexpr double kFixedTolerance = 2.0 / 65536.0;

}  // namespace

bool SaneNumericOption::From(const SANE_Option_Descriptor& d, SaneNumericOption* option) {
    if (d.type != SANE_TYPE_INT && d.type != SANE_TYPE_FIXED) return false;
    SaneNumericOption result;
    result.m_fixed = d.type == SANE_TYPE_FIXED;
    result.m_unit = d.unit;
    const auto number = [&result](SANE_Word word) {
        return result.m_fixed ? SaneUnfix(word) : double(word);
    };
    if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range) {
        result.m_kind = Constraint::Range;
        result.m_min = number(d.constraint.range->min);
        result.m_max = number(d.constraint.range->max);
        result.m_step = std::fabs(number(d.constraint.range->quant));
        if (result.m_max < result.m_min) result.m_max = result.m_min;
    } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list &&
               d.constraint.word_list[0] > 0) {
        result.m_kind = Constraint::List;
        for (SANE_Word i = 1; i <= d.constraint.word_list[0]; ++i)
            result.m_values.push_back(number(d.constraint.word_list[i]));
    }
    *option = std::move(result);
    return true;
}

double SaneNumericOption::Representable(double value) const {
    return m_fixed ? SaneUnfix(SaneFix(value)) : std::round(value);
}

double SaneNumericOption::Nearest(double value) const {
    switch (m_kind) {
        case Constraint::Range: {
            double nearest = std::clamp(value, m_min, m_max);
            if (m_step > 0) {
                nearest = m_min + std::round((nearest - m_min) / m_step) * m_step;
                if (nearest > m_max) nearest -= m_step;
            }
            return Representable(nearest);
        }
        case Constraint::List: {
            double nearest = m_values.front();
            for (double candidate : m_values)
                if (std::fabs(candidate - value) < std::fabs(nearest - value)) nearest = candidate;
            return nearest;
        }
        default:
            return Representable(m_fixed ? std::clamp(value, -32767.0, 32767.0)
                                         : std::clamp(value, -2147483647.0, 2147483647.0));
    }
}

bool SaneNumericOption::Same(double a, double b) const {
    return std::fabs(a - b) <= (m_fixed ? kFixedTolerance : 1e-9);
}
