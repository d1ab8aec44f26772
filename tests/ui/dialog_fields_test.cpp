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

TEST(DialogFields, RadioGroupKeepsOneChecked) {
    dialog_fields f;
    int changes = 0;
    f.on_change = [&](int) { ++changes; };
    f.check_radio(1116, 1119, 1118);
    EXPECT_TRUE(f.checked(1118));
    f.check_radio(1116, 1119, 1116);
    EXPECT_TRUE(f.checked(1116));
    EXPECT_FALSE(f.checked(1118));
    EXPECT_EQ(changes, 8);
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
