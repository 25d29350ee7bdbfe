// Numeric options' constraints: the nearest value a device can hold, from ranges with
// and without steps, word lists, and unconstrained int and fixed options.
#include <gtest/gtest.h>

#include "sources/sane/SaneNumericOption.h"

namespace {

SANE_Option_Descriptor Numeric(SANE_Value_Type type) {
    SANE_Option_Descriptor d{};
    d.name = "resolution";
    d.type = type;
    d.size = sizeof(SANE_Word);
    d.cap = SANE_CAP_SOFT_SELECT;
    return d;
}

TEST(SaneNumericOption, ARangeIsClampedAndPutOnItsStepsNeverPastItsMaximum) {
    const SANE_Range range{50, 600, 25};
    SANE_Option_Descriptor d = Numeric(SANE_TYPE_INT);
    d.constraint_type = SANE_CONSTRAINT_RANGE;
    d.constraint.range = &range;
    SaneNumericOption option;
    ASSERT_TRUE(SaneNumericOption::From(d, &option));
    EXPECT_EQ(option.Kind(), SaneNumericOption::Constraint::Range);
    EXPECT_EQ(option.Nearest(110), 100);
    EXPECT_EQ(option.Nearest(115), 125);
    EXPECT_EQ(option.Nearest(10), 50);
    EXPECT_EQ(option.Nearest(2400), 600);

    const SANE_Range uneven{0, 10, 4};  // steps 0, 4, 8: 12 would pass the maximum
    d.constraint.range = &uneven;
    ASSERT_TRUE(SaneNumericOption::From(d, &option));
    EXPECT_EQ(option.Nearest(10), 8);
}

TEST(SaneNumericOption, AFixedRangeWithoutStepsKeepsWhatAFixedWordHolds) {
    const SANE_Range range{SaneFix(0), SaneFix(215.9), 0};
    SANE_Option_Descriptor d = Numeric(SANE_TYPE_FIXED);
    d.unit = kSaneUnitMillimetre;
    d.constraint_type = SANE_CONSTRAINT_RANGE;
    d.constraint.range = &range;
    SaneNumericOption option;
    ASSERT_TRUE(SaneNumericOption::From(d, &option));
    EXPECT_EQ(option.Unit(), kSaneUnitMillimetre);
    EXPECT_NEAR(option.Max(), 215.9, 1e-4);
    EXPECT_TRUE(option.Same(option.Nearest(12.7), 12.7));
    EXPECT_FALSE(option.Same(option.Nearest(12.7), 12.71));
    EXPECT_NEAR(option.Nearest(300), 215.9, 1e-4);
}

TEST(SaneNumericOption, AWordListGivesItsClosestValue) {
    const SANE_Word list[] = {4, SaneFix(75), SaneFix(150), SaneFix(300), SaneFix(600)};
    SANE_Option_Descriptor d = Numeric(SANE_TYPE_FIXED);
    d.constraint_type = SANE_CONSTRAINT_WORD_LIST;
    d.constraint.word_list = list;
    SaneNumericOption option;
    ASSERT_TRUE(SaneNumericOption::From(d, &option));
    EXPECT_EQ(option.Kind(), SaneNumericOption::Constraint::List);
    EXPECT_EQ(option.Values(), (std::vector<double>{75, 150, 300, 600}));
    EXPECT_EQ(option.Nearest(200), 150);
    EXPECT_EQ(option.Nearest(240), 300);
    EXPECT_EQ(option.Nearest(5000), 600);
}

TEST(SaneNumericOption, AnIntWithoutConstraintRoundsAndAStringIsNoNumber) {
    SaneNumericOption option;
    ASSERT_TRUE(SaneNumericOption::From(Numeric(SANE_TYPE_INT), &option));
    EXPECT_EQ(option.Kind(), SaneNumericOption::Constraint::None);
    EXPECT_EQ(option.Nearest(12.4), 12);
    EXPECT_FALSE(option.Same(12, 12.4));
    EXPECT_FALSE(SaneNumericOption::From(Numeric(SANE_TYPE_STRING), &option));
}

}  // namespace
