#include "detect/summary_file.h"
#include "memory_fs.h"

#include <gtest/gtest.h>

namespace serflash::detect {
namespace {

using testing::memory_fs;

TEST(SummaryFile, StoresLineFeedsAsTextModeDoes) {
    memory_fs fs;
    auto out = summary_file::open(fs, "s.txt", platform::write_mode::truncate);
    ASSERT_TRUE(out);
    out->write("a\nb\r\n\x81\x46");
    out->print("%-4d|%s\n", 7, "x");
    EXPECT_TRUE(out->close());
    EXPECT_EQ(fs.text("s.txt"), std::string("a\r\nb\r\r\n\x81\x46") + "7   |x\r\n");

    // Appending keeps what is there.
    auto more = summary_file::open(fs, "s.txt", platform::write_mode::append);
    more->write("\n");
    more->close();
    EXPECT_EQ(fs.text("s.txt"), std::string("a\r\nb\r\r\n\x81\x46") + "7   |x\r\n\r\n");
}

TEST(SummaryFile, WriteFailureIsKept) {
    memory_fs fs;
    fs.refuse_write = [](const std::string&) { return true; };
    auto out = summary_file::open(fs, "s.txt", platform::write_mode::truncate);
    out->write("x");
    EXPECT_TRUE(out->failed());
    EXPECT_FALSE(out->close());
}

TEST(SummaryFile, HeaderBlockByteForByte) {
    scan_settings s;
    s.start_frame = 0;
    s.end_frame = 999;
    s.packet_size = 200;
    s.brightness = 4;
    s.pct_top = 1;
    s.pct_bottom = 2;
    s.pct_right = 3;
    s.pct_left = 4;
    s.mask_ul[1] = pack_point(-1, 5);
    s.mask_lr[1] = pack_point(700, 32767);
    s.red_mask_half = 11;
    s.blue_mask_half = 12;
    s.star_half_width = 13;
    s.star_threshold = 31;
    s.star_mask_half = 14;
    const std::string header_text = "FileID(14byte)\x81\x46X\r\nDatetime:5\r\n";

    memory_fs fs;
    auto on = summary_file::open(fs, "on", platform::write_mode::truncate);
    write_summary_header(*on.value(), header_text, s, {true, true, true});
    on->close();
    const std::string expected_on =
        "--------------SER File Header Information--------------\r\n"
        "FileID(14byte)\x81\x46X\r\r\nDatetime:5\r\r\n"
        "--------------Parameters for detection-----------------\r\n"
        "start_frame# = 0  end_frame# = 999  packet_size = 200frames  brightness = 4\r\n"
        "Additional criteria: T = 1% B = 2% R = 3% L = 4%\r\n"
        "Manual Mask 0: UL_x = 0, UL_y = 0, LR_x = 0, LR_y = 0\r\n"
        "Manual Mask 1: UL_x = -1, UL_y = 5, LR_x = 700, LR_y = 32767\r\n"
        "Manual Mask 2: UL_x = 0, UL_y = 0, LR_x = 0, LR_y = 0\r\n"
        "Manual Mask 3: UL_x = 0, UL_y = 0, LR_x = 0, LR_y = 0\r\n"
        "Mask around RED pixels ON\x81\x46  Mask size 11\r\n"
        "Mask around BLUE pixels ON\x81\x46Mask size 12\r\n"
        "Mask stars ON\x81\x46Star size 13 Star threshold 31 Mask size 14\r\n"
        "Pixel value for BLUE = 500, Pixel value for RED = 3800\r\n"
        "Acceptable ranges for the scatter of the detected points: 20(vertical), 100(horizontal)\r\n";
    EXPECT_EQ(fs.text("on"), expected_on);

    auto off = summary_file::open(fs, "off", platform::write_mode::truncate);
    write_summary_header(*off.value(), header_text, s, {});
    off->close();
    const std::string t = fs.text("off");
    EXPECT_NE(t.find("\r\nMask around RED pixels OFF\r\nMask around BLUE pixels OFF\r\nMask stars OFF\r\nPixel"),
              std::string::npos);
    EXPECT_EQ(t.find('\x81', t.find("Parameters")), std::string::npos);
}

TEST(SummaryFile, BoundedFormatting) {
    EXPECT_EQ(format_bounded(5, "%d", 123456), "1234");
    EXPECT_EQ(format_bounded(1, "%d", 1), "");
}

} // namespace
} // namespace serflash::detect
