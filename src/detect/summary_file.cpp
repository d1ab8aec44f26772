#include "detect/summary_file.h"

#include "detect/format.h"
#include "detect/rules.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace serflash::detect {
namespace {

constexpr std::size_t line_capacity = 1000;

// The full-width colon of code page 932.
constexpr std::string_view wide_colon = "\x81\x46";

} // namespace

platform::result<std::unique_ptr<summary_file>> summary_file::open(platform::file_system& fs, const std::string& path,
                                                                   platform::write_mode mode) {
    auto out = fs.open_write(path, mode);
    if (!out) return out.outcome();
    return std::make_unique<summary_file>(std::move(out.value()));
}

summary_file::summary_file(std::unique_ptr<platform::output_file> out) : out_(std::move(out)) {}

summary_file::~summary_file() {
    if (out_) out_->close();
}

void summary_file::write(std::string_view text) {
    if (!out_ || text.empty()) return;
    std::string stored;
    stored.reserve(text.size() + 16);
    for (const char c : text) {
        if (c == '\n') stored.push_back('\r');
        stored.push_back(c);
    }
    if (!out_->write(stored.data(), stored.size())) note_failure();
}

void summary_file::note_failure() {
    if (!failed_ && out_) error_ = out_->error();
    failed_ = true;
}

bool summary_file::flush() {
    if (out_ && !out_->flush()) note_failure();
    return !failed_;
}

void summary_file::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const std::string s = vformat_bounded(line_capacity, format, args);
    va_end(args);
    write(s);
}

bool summary_file::close() {
    if (out_) {
        if (!out_->close()) note_failure();
        out_.reset();
    }
    return !failed_;
}

void write_summary_header(summary_file& out, const std::string& header_text, const scan_settings& s,
                          const mask_switches& sw, bool swap_bytes) {
    out.write("--------------SER File Header Information--------------\n");
    out.write(header_text);
    out.write("--------------Parameters for detection-----------------\n");
    out.print("start_frame# = %d  end_frame# = %d  packet_size = %dframes  brightness = %d\n", s.start_frame,
              s.end_frame, s.packet_size, s.brightness);
    out.print("Additional criteria: T = %d%% B = %d%% R = %d%% L = %d%%\n", s.pct_top, s.pct_bottom, s.pct_right,
              s.pct_left);
    for (int k = 0; k < 4; ++k) {
        const auto i = static_cast<std::size_t>(k);
        out.print("Manual Mask %d: UL_x = %d, UL_y = %d, LR_x = %d, LR_y = %d\n", k, point_x(s.mask_ul[i]),
                  point_y(s.mask_ul[i]), point_x(s.mask_lr[i]), point_y(s.mask_lr[i]));
    }
    if (sw.red) {
        out.write("Mask around RED pixels ON");
        out.write(wide_colon);
        out.print("  Mask size %d\n", s.red_mask_half);
    } else {
        out.write("Mask around RED pixels OFF\n");
    }
    if (sw.blue) {
        out.write("Mask around BLUE pixels ON");
        out.write(wide_colon);
        out.print("Mask size %d\n", s.blue_mask_half);
    } else {
        out.write("Mask around BLUE pixels OFF\n");
    }
    if (sw.stars) {
        out.write("Mask stars ON");
        out.write(wide_colon);
        out.print("Star size %d Star threshold %d Mask size %d\n", s.star_half_width, s.star_threshold,
                  s.star_mask_half);
    } else {
        out.write("Mask stars OFF\n");
    }
    out.print("Pixel value for BLUE = %d, Pixel value for RED = %d\n", s.blue_level, s.red_level);
    out.print("Acceptable ranges for the scatter of the detected points: %d(vertical), %d(horizontal)\n", s.scatter_v,
              s.scatter_h);
    if (s.continue_after_scatter) out.write("Continue after a scattered frame ON\n");
    if (s.snapshots == snapshot_format::png) out.write("Snapshots PNG\n");
    if (s.snapshots == snapshot_format::none) out.write("Snapshots none (frames counted, no picture files)\n");
    if (s.complete) out.print("Every frame examined ON at %dsigma after the passes\n", s.complete_threshold);
    if (swap_bytes) out.write("Samples high byte first (--swap-bytes)\n");
}

void write_pass_header(summary_file& out, std::int32_t threshold) {
    out.write("\n------------Detection-----------------------------------------------");
    out.print("\nThreshold: %dsigma", threshold);
    out.print("\n%-10s%-10s%-10s%-10s%-10s%-10s%-10s", "No.", "Frame", "x", "y", "count", "Average",
              "Standard deviation");
}

void write_raise_block(summary_file& out, std::int32_t det_frames, std::int32_t det_count) {
    out.write("\n--------------------------------------------------------------------\n");
    out.print("Number of frames that include detections = %d\n", det_frames);
    out.print("Number of detections = %d\n", det_count);
    out.write("\n------Too many detections prevented a scan through the file.--------\n");
    out.write("\n------The threshold is increased, and the file is scanned again.----\n");
}

void write_closing_block(summary_file& out, std::int32_t det_frames, std::int32_t det_count) {
    out.write("\n--------------------------------------------------------------------\n");
    out.print("Number of frames that include detections = %d\n", det_frames);
    out.print("Number of detections = %d\n", det_count);
    out.write("--------------------------------------------------------------------\n\n");
}

std::string detection_lines(const saved_frame& frame) {
    std::string text;
    for (const detection& d : frame.detections)
        text += format_bounded(line_capacity, "\n%-10d%-10d%-10d%-10d%-10d%-10d%-10d", d.number, frame.frame, d.x, d.y,
                               d.sample, truncate_to_int(d.mean), truncate_to_int(d.sigma));
    return text;
}

void summary_sink::pass_started(std::int32_t threshold) { write_pass_header(out_, threshold); }

void summary_sink::frame_saved(const saved_frame& frame) { out_.write(detection_lines(frame)); }

void summary_sink::threshold_raised(std::int32_t det_frames, std::int32_t det_count) {
    write_raise_block(out_, det_frames, det_count);
}

void summary_sink::scan_finished(std::int32_t det_frames, std::int32_t det_count) {
    write_closing_block(out_, det_frames, det_count);
}

} // namespace serflash::detect
