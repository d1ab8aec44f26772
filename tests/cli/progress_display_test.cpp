#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <sstream>

namespace serflash::cli {
namespace {

TEST(ProgressDisplay, DurationsAndModes) {
    EXPECT_EQ(duration_text(44.6), "45 s");
    EXPECT_EQ(duration_text(192.0), "3 min 12 s");
    EXPECT_EQ(duration_text(7500.0), "2 h 05 min");
    EXPECT_EQ(duration_text(-3.0), "0 s");
    EXPECT_EQ(progress_mode_for("auto", false, true), progress_mode::line);
    EXPECT_EQ(progress_mode_for("auto", false, false), progress_mode::none);
    EXPECT_EQ(progress_mode_for("auto", true, true), progress_mode::none);
    EXPECT_EQ(progress_mode_for("json", true, false), progress_mode::json);
}

// Redrawn a few times a second at most; a file's last record always reaches a JSON reader.
TEST(ProgressDisplay, RedrawsAreSpacedAndLinesFitTheTerminal) {
    auto t = std::chrono::steady_clock::time_point{};
    const auto now = [&] { return t; };
    detect::scan_progress p;
    p.file_count = 1;
    p.pass = 2;
    p.threshold = 57;
    p.frames_total = 1000;
    p.frames_done = 250;
    p.elapsed_s = 10.0;
    EXPECT_EQ(progress_display::line_text("m1.ser", p),
              "file 1 of 1: m1.ser, pass 2 at threshold 57, 25 frames/s, 25.0 %, 30 s left");

    std::ostringstream line_out;
    progress_display line(line_out, progress_mode::line, now, 30);
    for (int k = 0; k < 10; ++k) {
        line.show("dir/m1.ser", p);
        t += std::chrono::milliseconds(100);
    }
    const std::string drawn = line_out.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 4); // at 0, 300, 600 and 900 ms
    EXPECT_EQ(drawn.substr(0, 30), "\rfile 1 of 1: m1.ser, pass 2 a");
    EXPECT_EQ(drawn.substr(30, 3), "\x1b[K");

    std::ostringstream json_out;
    progress_display json(json_out, progress_mode::json, now);
    json.show("m1.ser", p);
    json.show("m1.ser", p); // too soon
    p.file_fraction = 1.0;
    json.show("m1.ser", p); // the file's end
    const std::string lines = json_out.str();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
    EXPECT_NE(lines.find("\"eta_s\":30.0"), std::string::npos) << lines;
    EXPECT_NE(lines.find("\"fraction\":0.25"), std::string::npos) << lines;

    std::ostringstream none_out;
    progress_display none(none_out, progress_mode::none, now);
    none.show("m1.ser", p);
    none.clear();
    EXPECT_TRUE(none_out.str().empty());
}

} // namespace
} // namespace serflash::cli
