#include "ui/scan_table.h"

#include <gtest/gtest.h>

namespace serflash::ui {
namespace {

using cells = std::array<std::string, column_count>;

TEST(DefaultRow, SixteenBitThousandFrames) {
    EXPECT_EQ(default_row("m1.ser", 1000, 16, 0),
              (cells{"", "m1.ser", "1000", "0", "999", "11", "200", "500", "3800", "4"}));
}

TEST(DefaultRow, EightBitHundredFiftyFrames) {
    EXPECT_EQ(default_row("m2.ser", 150, 8, 5),
              (cells{"", "m2.ser", "150", "0", "149", "2", "150", "0", "255", "1000"}));
}

TEST(DefaultRow, MaxAndPacketLimits) {
    EXPECT_EQ(default_row("a", 99, 16, 0)[col_max], "1");
    EXPECT_EQ(default_row("a", 19900, 16, 0)[col_max], "200");
    EXPECT_EQ(default_row("a", 20000, 16, 0)[col_max], "200");
    EXPECT_EQ(default_row("a", 5000000, 16, 0)[col_max], "200");
    EXPECT_EQ(default_row("a", 199, 16, 0)[col_pack], "199");
    EXPECT_EQ(default_row("a", 0, 16, 0)[col_pack], "0");
}

TEST(DefaultRow, BrightnessByShift) {
    const char* expected[] = {"4", "8", "16", "31", "63", "125", "250", "500", "1000"};
    for (int s = 0; s <= 8; ++s) EXPECT_EQ(default_row("a", 10, 16, s)[col_brt], expected[s]) << s;
    EXPECT_EQ(default_row("a", 10, 16, 10)[col_brt], "4000");
    EXPECT_EQ(default_row("a", 10, 16, 99)[col_brt], "128000"); // kept within 0..15
    EXPECT_EQ(default_row("a", 10, 16, -3)[col_brt], "4");
}

TEST(ScanTable, MarkAndFind) {
    scan_table t;
    EXPECT_EQ(t.find_marked_row(), -1);
    for (int i = 0; i < 3; ++i) {
        t.insert_row(default_row("f" + std::to_string(i), 10, 16, 0));
        ++t.list_file;
    }
    t.mark_row(1);
    EXPECT_EQ(t.find_marked_row(), 1);
    EXPECT_EQ(t.cell(0, col_mark), "");
    t.mark_row(3); // beyond the counted rows: nobody is marked
    EXPECT_EQ(t.find_marked_row(), -1);
    EXPECT_EQ(t.get_cell_int(7, 2), 0); // no such row
}

TEST(ScanTable, CellsKeepTypedTextAndReadWithAtoi) {
    scan_table t;
    t.insert_row(default_row("f", 10, 16, 0));
    t.list_file = 1;
    t.set_cell(0, col_max, "12abc");
    EXPECT_EQ(t.get_cell_int(0, col_max), 12);
    t.set_cell(0, col_max, "abc");
    EXPECT_EQ(t.get_cell_int(0, col_max), 0);
    t.set_cell(0, col_brt, std::string(400, '7'));
    EXPECT_EQ(t.cell(0, col_brt).size(), max_cell_chars);
}

} // namespace
} // namespace serflash::ui
