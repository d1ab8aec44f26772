// Hostile names: formulas kept out of spreadsheets, control characters kept off the terminal,
// bytes that are not UTF-8 kept out of a page declared UTF-8.
#include "scanned_files.h"

#include "detect/format.h"
#include "report/csv.h"
#include "report/html_report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

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

// A capture named to do harm: markup, a formula, an escape sequence and a byte that is no UTF-8.
// The page shows it escaped and as valid UTF-8, the table keeps the formula out of a spreadsheet,
// and the document holds it as text.
TEST(Names, AHostileFileNameReachesThePageEscapedAndTheTableQuoted) {
    const std::string name = "=HYPERLINK(1)<script>x<\\script>\x1b[2J\xff";
    detect::testing::memory_fs mem;
    mem.files[name + ".ser"] = testing::flash_file(40);
    const detect::batch_report rep =
        testing::scan_with_outputs(mem, {name + ".ser", detect::default_settings(40, 16, 0), {}, 0});
    ASSERT_EQ(rep.files.size(), 1U);
    ASSERT_EQ(rep.files[0].outcome, detect::file_outcome::scanned) << rep.files[0].problem_text();

    const std::string page = testing::file_ending(mem, "_report.html");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;"), std::string::npos);
    EXPECT_EQ(page.find('\x1b'), std::string::npos) << "an escape sequence reached the page";
    EXPECT_EQ(detect::valid_utf8(page), page) << "bytes that are not UTF-8 in a page declared UTF-8";

    const std::string table = testing::file_ending(mem, "_candidates.csv");
    const auto rows = report::parse_csv(table);
    ASSERT_TRUE(rows);
    ASSERT_GE(rows->size(), 2U);
    const auto& header = (*rows)[0];
    const auto column = std::find(header.begin(), header.end(), "file") - header.begin();
    ASSERT_LT(static_cast<std::size_t>(column), header.size());
    const std::string field = (*rows)[1][static_cast<std::size_t>(column)];
    EXPECT_EQ(field.substr(0, 2), "'=") << field;
    EXPECT_EQ(report::csv_text(field), name + ".ser");

    const auto doc = nlohmann::json::parse(testing::file_ending(mem, "_candidates.json"));
    EXPECT_EQ(doc["candidates"][0]["file"].get<std::string>().substr(0, 11), "=HYPERLINK(");
}

} // namespace
} // namespace serflash
