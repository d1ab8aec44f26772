#pragma once
// Toolkit-free pieces of the candidate view: the SER file of a candidate read frame by frame,
// frames rendered with the display's auto levels, the cut-out around the candidate and the
// light curve's scale. The "Candidates" window only paints what these return.
#include "display/render.h"
#include "ser/ser_reader.h"
#include "ui/review_model.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace serflash::ui {

// The SER file a candidate came from: the recorded path, else a file of that name beside the
// results folder (the folder was moved with its video), else empty.
std::string locate_ser_file(const candidate& c);

class candidate_frames {
public:
    // Opens the SER file; false with why when it cannot be read.
    bool open(const std::string& path, std::string& error);
    bool is_open() const { return reader_ != nullptr; }
    const std::string& path() const { return path_; }
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    std::int32_t frames() const { return frames_; }
    // Reads a frame (clamped to the file's frames); empty when no file is open.
    std::vector<std::uint16_t> read(std::int32_t frame);

private:
    std::unique_ptr<ser::ser_reader> reader_;
    std::string path_;
    std::int32_t width_ = 0, height_ = 0, frames_ = 0;
};

// A frame as 0xFFRRGGBB pixels, stretched between the given levels.
std::vector<std::uint32_t> grey_pixels(std::span<const std::uint16_t> frame, std::int32_t width, std::int32_t height,
                                       const display::stretch_levels& levels);

// The (2 half + 1)^2 samples around (cx, cy); samples outside the frame read as 0.
std::vector<std::uint16_t> cut_out(std::span<const std::uint16_t> frame, std::int32_t width, std::int32_t height,
                                   std::int32_t cx, std::int32_t cy, std::int32_t half);

// The levels every frame of one candidate is shown with, so that a frame of noise looks as
// faint as it is next to the peak: the whole frame's from the peak frame, and the cut-out's
// from the peak frame's cut-out (its darkest to its brightest sample).
struct candidate_levels {
    display::stretch_levels frame;
    display::stretch_levels cut;
};
candidate_levels levels_for_candidate(std::span<const std::uint16_t> peak_frame, std::int32_t width,
                                      std::int32_t height, std::int32_t cx, std::int32_t cy, std::int32_t half);

// The frame a blink alternates with: the one before the frame shown, or a frame the user chose.
struct blink_reference {
    std::optional<std::int32_t> frame; // nothing: the frame before the one shown
};
// The partner of `shown` in a file of `frames` frames (clamped into the file); the frame after
// when the one before does not exist. Nothing when the file has one frame or none.
std::optional<std::int32_t> blink_partner(const blink_reference& ref, std::int32_t shown, std::int32_t frames);

// The candidate after `current` in the table's order (indices into the candidates, as sorted)
// that has no verdict yet, going round to the top; nothing when every other one has a verdict.
std::optional<std::size_t> next_unmarked(const std::vector<candidate>& candidates, std::span<const std::size_t> order,
                                         std::size_t current);

// Round axis values between lo and hi: steps of 1, 2 or 5 times a power of ten, at most
// max_ticks of them (at least two when lo < hi).
std::vector<double> axis_ticks(double lo, double hi, int max_ticks);

// The selenographic grid and the fitted limb of a candidate's file, in frame pixels, line by line
// (a line breaks where it turns to the far side); none when the scan did not find and orient the
// disk.
std::vector<std::vector<astro::image_point>> moon_overlay(const candidate& c);
// "lat -12.34, lon 56.78 (+- 0.40 deg)", or why there is no place (empty when nothing is known).
std::string place_text(const candidate& c);

// Where each light-curve value goes in a plot of the given size (x from 0 to w - 1, larger
// values higher; the zero line and the one-sigma line come along). A value that is not a
// number gets a point with NaN y, which the plot leaves out. The axes' values come with
// their positions: excess values up the side, frame numbers along the bottom.
struct curve_plot {
    std::vector<std::pair<double, double>> points;
    double zero_y = 0.0;
    double sigma_y = 0.0;
    double peak_x = -1.0;                                 // the candidate's peak frame, when it lies in the curve
    std::vector<std::pair<double, double>> y_ticks;       // (value, y)
    std::vector<std::pair<std::int32_t, double>> x_ticks; // (frame, x)
};
curve_plot plot_light_curve(const light_curve& curve, std::int32_t peak_frame, double w, double h);

} // namespace serflash::ui
