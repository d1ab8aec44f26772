#include "ui/control_ids.h"
#include "ui/dialog_fields.h"

#include <gtest/gtest.h>

#include <ostream>

namespace serflash::ui {
namespace {

struct number_case {
    const char* text;
    bool is_signed;
    bool ok;
    std::int64_t value;
};

void PrintTo(const number_case& c, std::ostream* os) {
    *os << '"' << c.text << '"' << (c.is_signed ? " signed" : " unsigned");
}

class DialogNumber : public ::testing::TestWithParam<number_case> {};

TEST_P(DialogNumber, ReadsLikeThePanel) {
    const auto& c = GetParam();
    std::int64_t v = -999;
    EXPECT_EQ(parse_dialog_int(c.text, c.is_signed, v), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(v, c.value) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, DialogNumber,
                         ::testing::Values(number_case{"60", true, true, 60}, number_case{"  -7", true, true, -7},
                                           number_case{"12 ", true, true, 12}, number_case{"", true, false, 0},
                                           number_case{"abc", true, false, 0}, number_case{"12abc", true, false, 0},
                                           number_case{"-", true, false, 0}, number_case{"-5", false, false, 0},
                                           number_case{"2147483647", true, true, 2147483647},
                                           number_case{"2147483648", true, false, 0},
                                           number_case{"-2147483648", true, true, -2147483648LL},
                                           number_case{"4294967295", false, true, 4294967295LL},
                                           number_case{"4294967296", false, false, 0}));

TEST(DialogFields, NonNumbersReadAsZeroAndReportIt) {
    dialog_fields f;
    bool translated = true;
    EXPECT_EQ(f.get_int(1089, &translated), 0); // empty "Threshold step"
    EXPECT_FALSE(translated);
    f.set_text(1089, "x3");
    EXPECT_EQ(f.get_int(1089), 0);
    f.set_int(1089, -3);
    EXPECT_EQ(f.text(1089), "-3");
    EXPECT_EQ(f.get_uint(1089), 0U);
}

// One button of the group stays checked, and every button of it is reported as changed (the one
// that was checked before too), so a mirror of the group never keeps two checked.
TEST(DialogFields, RadioGroupKeepsOneChecked) {
    dialog_fields f;
    std::vector<int> changed;
    f.on_change = [&](int control) { changed.push_back(control); };
    const std::vector<int> group = {id::ZOOM_100, id::ZOOM_50, id::ZOOM_33, id::ZOOM_25};
    for (const int chosen : {id::ZOOM_33, id::ZOOM_100}) {
        changed.clear();
        f.check_radio(id::ZOOM_100, id::ZOOM_25, chosen);
        for (const int b : group) EXPECT_EQ(f.checked(b), b == chosen) << b;
        EXPECT_EQ(changed, group);
    }
}

TEST(AtoiText, FollowsTheCLibrary) {
    EXPECT_EQ(atoi_text("12abc"), 12);
    EXPECT_EQ(atoi_text("abc"), 0);
    EXPECT_EQ(atoi_text("  +5"), 5);
    EXPECT_EQ(atoi_text("-40x"), -40);
    EXPECT_EQ(atoi_text(""), 0);
    EXPECT_EQ(atoi_text("99999999999999999999"), 2147483647);
    EXPECT_EQ(atoi_text("-99999999999999999999"), -2147483647 - 1);
}

} // namespace
} // namespace serflash::ui
