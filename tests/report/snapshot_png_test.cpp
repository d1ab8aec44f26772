// Snapshot formats: PNG files hold exactly the pixels of the BMP snapshots, "none" writes no
// picture and counts the same frames; the summary differs only by its format line.
#include "bench/scan_once.h"
#include "detect/fast_scan.h"
#include "detect/passes.h"
#include "report/snapshot_png.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace serflash::report {
namespace {

namespace fs = std::filesystem;
using detect::snapshot_format;

// The 32-bit BMP's pixels as red, green, blue (54 header bytes, rows top first).
std::vector<std::uint8_t> bmp_rgb(const std::string& bytes, std::int32_t& w, std::int32_t& h) {
    std::int32_t bi_height = 0;
    std::memcpy(&w, bytes.data() + 18, 4);
    std::memcpy(&bi_height, bytes.data() + 22, 4);
    h = -bi_height;
    std::vector<std::uint8_t> rgb;
    for (std::size_t at = 54; at + 4 <= bytes.size(); at += 4) {
        rgb.push_back(static_cast<std::uint8_t>(bytes[at + 2]));
        rgb.push_back(static_cast<std::uint8_t>(bytes[at + 1]));
        rgb.push_back(static_cast<std::uint8_t>(bytes[at]));
    }
    return rgb;
}

std::vector<std::uint8_t> png_rgb(const std::string& bytes, std::int32_t& w, std::int32_t& h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) return {};
    w = static_cast<std::int32_t>(image.width);
    h = static_cast<std::int32_t>(image.height);
    return rgb;
}

class SnapshotFormats : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serflash_snapfmt_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        synth::params p = synth::default_params(16);
        p.width = 90;
        p.height = 70;
        p.frames = 120;
        p.flashes = {{30, 20, 15, 900, 2}, {75, 60, 50, 1200, 1}};
        path_ = (root_ / "clip.ser").string();
        ASSERT_TRUE(synth::write_ser(platform::native_file_system(), path_, p).ok);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::map<std::string, std::string> scan(snapshot_format format, const detect::file_scanner& scanner,
                                            bool with_encoder, detect::file_report* report = nullptr) {
        bench::scan_job job;
        job.ser_path = path_;
        auto in = platform::native_file_system().open_read(path_);
        ser::ser_reader reader(std::move(in.value()));
        reader.read_ser_header();
        job.settings = bench::default_settings(reader);
        job.settings.snapshots = format;
        if (with_encoder) job.png_encoder = png_snapshot_encoder();
        const fs::path dir = root_ / ("run" + std::to_string(runs_++));
        fs::create_directories(dir);
        job.results_parent = dir.string();
        const bench::scan_result r = bench::scan_once(job, scanner);
        if (report != nullptr) *report = r.report;
        return bench::read_tree(dir.string());
    }

    fs::path root_;
    std::string path_;
    int runs_ = 0;
};

std::string without_format_line(std::string summary) {
    for (const char* line : {"Snapshots PNG\r\n", "Snapshots none (frames counted, no picture files)\r\n"})
        if (const auto at = summary.find(line); at != std::string::npos) summary.erase(at, std::strlen(line));
    return summary;
}

TEST_F(SnapshotFormats, PngHoldsTheBmpPixelsAndNoneWritesNoPicture) {
    for (const detect::file_scanner& scanner :
         {detect::file_scanner(detect::run_scan), detect::make_fast_scanner({2, 1})}) {
        detect::file_report bmp_report, png_report, none_report;
        const auto bmp = scan(snapshot_format::bmp, scanner, true, &bmp_report);
        const auto png = scan(snapshot_format::png, scanner, true, &png_report);
        const auto none = scan(snapshot_format::none, scanner, true, &none_report);
        ASSERT_GT(bmp_report.det_frames, 0);
        EXPECT_EQ(png_report.det_frames, bmp_report.det_frames);
        EXPECT_EQ(none_report.det_frames, bmp_report.det_frames);
        EXPECT_EQ(none_report.det_count, bmp_report.det_count);
        EXPECT_EQ(png_report.outcome, detect::file_outcome::scanned);

        std::size_t pictures = 0;
        for (const auto& [name, bytes] : bmp) {
            if (name.ends_with("_summary.txt")) {
                EXPECT_EQ(bytes.find("Snapshots"), std::string::npos) << "BMP is the plain scan";
                EXPECT_TRUE(without_format_line(png.at(name)) == bytes);
                EXPECT_NE(png.at(name).find("Snapshots PNG\r\n"), std::string::npos);
                EXPECT_TRUE(without_format_line(none.at(name)) == bytes);
                continue;
            }
            if (!name.ends_with(".bmp")) continue;
            ++pictures;
            const std::string png_name = name.substr(0, name.size() - 4) + ".png";
            ASSERT_EQ(png.count(png_name), 1U) << png_name;
            EXPECT_EQ(png.count(name), 0U);
            std::int32_t bw = 0, bh = 0, pw = 0, ph = 0;
            const auto expected = bmp_rgb(bytes, bw, bh);
            const auto got = png_rgb(png.at(png_name), pw, ph);
            EXPECT_EQ(pw, bw);
            EXPECT_EQ(ph, bh);
            EXPECT_TRUE(got == expected) << png_name << " does not hold the BMP's pixels";
            EXPECT_LT(png.at(png_name).size(), bytes.size());
        }
        EXPECT_EQ(pictures, bmp_report.frames.size()); // one per frame saved, in every pass
        for (const auto& [name, bytes] : none) EXPECT_FALSE(name.ends_with(".bmp") || name.ends_with(".png")) << name;
    }
}

TEST_F(SnapshotFormats, PngWithoutAnEncoderIsRefusedBeforeAnyFolderIsMade) {
    detect::file_report report;
    const auto tree = scan(snapshot_format::png, detect::run_scan, false, &report);
    EXPECT_EQ(report.outcome, detect::file_outcome::failed);
    EXPECT_NE(report.problem_text().find("PNG"), std::string::npos);
    EXPECT_TRUE(tree.empty());
    EXPECT_FALSE(fs::exists(root_ / ("run" + std::to_string(runs_ - 1)) / "Results_clip"));
}

TEST(SnapshotPixels, BoxColoursKeepTheirChannelsAndBadBitmapsGiveNoFile) {
    display::display_bitmap disp;
    ASSERT_TRUE(display::prep_for_display(disp, 3, 2));
    disp.disp_buf[4 * 4 + 0] = 0; // pixel (1, 1): blue 0, green 200, red 255
    disp.disp_buf[4 * 4 + 1] = 200;
    disp.disp_buf[4 * 4 + 2] = 255;
    const image8 px = snapshot_pixels(disp);
    ASSERT_EQ(px.pixels.size(), 18U);
    EXPECT_EQ(px.pixels[12], 255);
    EXPECT_EQ(px.pixels[13], 200);
    EXPECT_EQ(px.pixels[14], 0);
    std::string error;
    EXPECT_FALSE(png_snapshot_encoder()(disp, error).empty());
    display::display_bitmap broken = disp;
    broken.disp_buf.resize(5);
    EXPECT_TRUE(png_snapshot_encoder()(broken, error).empty());
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace serflash::report
