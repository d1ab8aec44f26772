// Hostile names: formulas kept out of spreadsheets, control characters kept off the terminal,
// bytes that are not UTF-8 kept out of a page declared UTF-8.
#include "detect/format.h"
#include "report/csv.h"
#include "report/html_report.h"

#include <gtest/gtest.h>

namespace serflash {
namespace {

TEST(Names, FieldsASpreadsheetWouldTakeForFormulasAreQuoted) {
    EXPECT_EQ(report::csv_field("=HYPERLINK(\"http://x\")"), "\"'=HYPERLINK(\"\"http://x\"\")\"");
    EXPECT_EQ(report::csv_field("+cmd.ser"), "'+cmd.ser");
    EXPECT_EQ(report::csv_field("-rf.ser"), "'-rf.ser");
    EXPECT_EQ(report::csv_field("@SUM(A1).ser"), "'@SUM(A1).ser");
    EXPECT_EQ(report::csv_field("\tx"), "'\tx");
    // Numbers stay numbers.
    EXPECT_EQ(report::csv_field("-3.5"), "-3.5");
    EXPECT_EQ(report::csv_field("+12"), "+12");
    EXPECT_EQ(report::csv_field("m1.ser"), "m1.ser");
    // Read back as they were written.
    for (const std::string name : {"=1+2.ser", "-rf.ser", "'quoted.ser", "-3.5"}) {
        const auto rows = report::parse_csv(report::csv_line({name, "x"}));
        ASSERT_TRUE(rows);
        EXPECT_EQ(report::csv_text((*rows)[0][0]), name);
    }
}

TEST(Names, ControlCharactersReachTheTerminalEscaped) {
    EXPECT_EQ(detect::printable_text("a\x1b[2Jb\a.ser"), "a\\x1B[2Jb\\x07.ser");
    EXPECT_EQ(detect::printable_text("two\nlines.ser"), "two\\x0Alines.ser");
    EXPECT_EQ(detect::printable_text("kept\nbreak", true), "kept\nbreak");
    EXPECT_EQ(detect::printable_text("caf\xc3\xa9.ser"), "caf\xc3\xa9.ser");
    EXPECT_EQ(detect::printable_text("bad\xff.ser"), "bad\\xFF.ser");
    EXPECT_EQ(detect::printable_text("c1\xc2\x9b"), "c1\\xC2\\x9B"); // CSI in its one-character form
}

TEST(Names, BytesThatAreNotUtf8AreReplacedInText) {
    EXPECT_EQ(detect::valid_utf8("ok \xe6\x97\xa5"), "ok \xe6\x97\xa5");
    EXPECT_EQ(detect::valid_utf8("\xff\xfe"), "\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(detect::valid_utf8("\xc0\xaf"), "\xef\xbf\xbd\xef\xbf\xbd");                 // overlong
    EXPECT_EQ(detect::valid_utf8("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"); // surrogate
    EXPECT_EQ(detect::valid_utf8("cut \xe6\x97"), "cut \xef\xbf\xbd\xef\xbf\xbd");
}

} // namespace
} // namespace serflash
