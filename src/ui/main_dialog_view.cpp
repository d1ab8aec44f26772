// The control panel's commands that concern the frame on display: its size in the image
// window, the levels it is shown with, and moving through its frames.
#include "ui/control_ids.h"
#include "ui/main_dialog.h"
#include "ui/scan_table.h"

#include <algorithm>

namespace serflash::ui {

void main_dialog::zoom_changed() {
    if (table.find_marked_row() < 0 || !fp1_ || !image_window_) return;
    const display_size size = read_display_size(fields);
    const view_scale scale = size.fit ? fit_scale(view.image_w(), view.image_h(), room_.w, room_.h)
                                      : limit_scale(size.scale, view.image_w(), view.image_h());
    if (scale == view.scale()) return;
    view.rescale(scale);
    view.frame_repainted(fields);
    platform_.repaint_image();
}

bool main_dialog::image_room(int w, int h) {
    room_ = {w, h};
    if (!read_display_size(fields).fit || !fp1_) return false;
    const view_scale scale = fit_scale(view.image_w(), view.image_h(), w, h);
    if (scale == view.scale()) return false;
    view.rescale(scale);
    view.frame_repainted(fields);
    platform_.repaint_image();
    return true;
}

bool main_dialog::zoom_steps(int steps) {
    if (!fp1_ || !image_window_ || steps == 0) return false;
    const view_scale scale = limit_scale(step_scale(view.scale(), steps), view.image_w(), view.image_h());
    if (scale == view.scale()) return false;
    check_display_size(fields, {false, scale});
    view.rescale(scale);
    view.frame_repainted(fields);
    platform_.repaint_image();
    return true;
}

void main_dialog::set_auto_levels(bool on) {
    const level_source source = on ? level_source::automatic : level_source::brightness;
    if (levels_.source == source) return;
    levels_.source = source;
    if (const int row = table.find_marked_row(); row >= 0 && fp1_ && !frame_buf_.empty()) render(row);
}

void main_dialog::set_chosen_levels(const display::stretch_levels& levels) {
    levels_ = {level_source::chosen, levels};
    if (const int row = table.find_marked_row(); row >= 0 && fp1_ && !frame_buf_.empty()) render(row);
}

std::optional<display::stretch_levels> main_dialog::display_levels() const {
    if (!fp1_ || frame_buf_.empty()) return std::nullopt;
    return levels_in_effect(levels_, frame_buf_);
}

std::string main_dialog::levels_text() const {
    if (const auto l = display_levels()) {
        return "levels " + std::to_string(l->low) + " to " + std::to_string(l->high) +
               (levels_.source == level_source::chosen ? " (chosen)" : "");
    }
    const int row = table.find_marked_row();
    if (row < 0 || !fp1_) return {};
    return "Brt " + std::to_string(table.get_cell_int(row, col_brt));
}

histogram main_dialog::frame_histogram() const { return make_histogram(frame_buf_, fp1_ ? fp1_->depth() : 16); }

void main_dialog::step_frames(std::int32_t frames) {
    go_to_frame(
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{cur_frame_} + frames, INT32_MIN, INT32_MAX)));
}

void main_dialog::go_to_frame(std::int32_t frame) {
    const int row = table.find_marked_row();
    if (row < 0 || !fp1_) return;
    const std::int32_t last = std::max(0, frame_count() - 1);
    fields.set_int(id::FRAME_NO, std::clamp(frame, 0, last));
    command(id::SHOW_FRAME);
}

std::int32_t main_dialog::frame_count() const {
    const int row = table.find_marked_row();
    if (row < 0 || !fp1_) return 0;
    return std::max(0, table.get_cell_int(row, col_frames));
}

std::string main_dialog::frame_status() const {
    if (!fp1_) return {};
    std::string text = "frame " + std::to_string(cur_frame_) + " of " + std::to_string(frame_count());
    if (const auto utc = times_.utc_of(cur_frame_)) text += "  " + ser::format_utc(*utc) + " UTC";
    return text;
}

} // namespace serflash::ui
