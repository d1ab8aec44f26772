#include "ui/main_dialog.h"

#include "detect/passes.h"
#include "ui/panel_settings.h"
#include "ui/control_ids.h"
#include "ui/batch_status.h"
#include "ui/panel_defaults.h"
#include "ui/setting_table.h"

#include <algorithm>
#include <cstdio>

namespace serflash::ui {
namespace {

constexpr int column_right_edges[column_count - 1] = {20, 120, 185, 225, 280, 320, 360, 400, 440};

constexpr int max_shift = 15; // the reader takes shifts 0..15

std::string join_path(const std::string& folder, const std::string& name) {
    return (!folder.empty() && folder.back() == '/') ? folder + name : folder + "/" + name;
}

std::string join_lines(const std::vector<std::string>& lines, const std::string& between) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : between) + line;
    return text;
}

int frame_step(int stepper_id) {
    switch (stepper_id) {
        case id::STEP_1:
            return 1;
        case id::STEP_50:
            return 50;
        case id::STEP_500:
            return 500;
        case id::STEP_5000:
            return 5000;
        default:
            return 0;
    }
}

} // namespace

int column_at_x(int x) {
    for (int c = 0; c < column_count - 1; ++c)
        if (x < column_right_edges[c]) return c;
    return column_count - 1;
}

std::string row_problem(const scan_table& table, int row, const dialog_fields& fields) {
    const std::string where = "Row " + std::to_string(row + 1) + ", " + table.cell(row, col_name) + ": ";
    for (int col = col_start; col < column_count; ++col)
        if (const setting_rule* rule = setting_for_column(col); rule != nullptr)
            if (std::string problem = value_problem(*rule, table.cell(row, col)); !problem.empty())
                return where + problem + ".";
    const detect::scan_settings settings = load_scan_settings(table, row, fields);
    const platform::status runnable = detect::scan_refusal(settings, table.get_cell_int(row, col_frames));
    if (runnable) return {};
    return where + runnable.reason() + ".";
}

std::vector<std::string> field_problems(const dialog_fields& fields) {
    std::vector<std::string> problems;
    for (const setting_rule& rule : scan_setting_table)
        if (rule.home == setting_home::field)
            if (std::string problem = value_problem(rule, fields.text(rule.place)); !problem.empty())
                problems.push_back(problem + ".");
    for (const setup_rule& rule : setup_setting_table)
        if (rule.problem != nullptr)
            if (std::string problem = rule.problem(fields.text(rule.place)); !problem.empty())
                problems.push_back(problem + ".");
    return problems;
}

std::string cell_problem(const scan_table& table, int row, int col, const std::string& text) {
    const setting_rule* rule = setting_for_column(col);
    if (rule == nullptr) return {};
    if (std::string problem = value_problem(*rule, text); !problem.empty()) return problem;
    // A value of the frame range must leave the range in the file and at least one packet long.
    const std::int64_t frames = table.get_cell_int(row, col_frames);
    const std::int64_t start = table.get_cell_int(row, col_start);
    const std::int64_t stop = table.get_cell_int(row, col_stop);
    const std::int64_t pack = table.get_cell_int(row, col_pack);
    const std::int64_t v = atoi_text(text);
    const auto n = [](std::int64_t x) { return std::to_string(x); };
    switch (col) {
        case col_start:
            if (stop - v + 1 < pack)
                return "start must leave one packet of " + n(pack) + " frames before stop " + n(stop) + ": at most " +
                       n(stop - pack + 1);
            break;
        case col_stop:
            if (v > frames - 1) return "stop must lie in the file: at most " + n(frames - 1);
            if (v - start + 1 < pack)
                return "stop must leave one packet of " + n(pack) + " frames after start " + n(start) + ": at least " +
                       n(start + pack - 1);
            break;
        case col_pack:
            if (stop - start + 1 < v)
                return "pack. must fit the frames " + n(start) + " to " + n(stop) + ": at most " + n(stop - start + 1);
            break;
        default:
            break;
    }
    return {};
}

std::string not_ser_reason(const ser::ser_reader& reader) {
    if (const platform::status geometry = reader.check_geometry(); !geometry)
        return "its header gives a " + geometry.reason();
    const std::int32_t depth = reader.depth();
    if (depth < 1 || depth > 16) return "its header gives " + std::to_string(depth) + " bits per sample";
    const std::int32_t declared = reader.header().FrameCount;
    if (declared < 0) return "its header gives " + std::to_string(declared) + " frames";
    if (declared > 0 && reader.frames_present() == 0)
        return "it is too short for one frame of " + std::to_string(reader.width()) + " x " +
               std::to_string(reader.height()) + " samples";
    return {};
}

main_dialog::main_dialog(panel_platform& platform, folder_access& folders, platform::file_system& fs)
    : platform_(platform), folders_(folders), fs_(fs) {}

void main_dialog::init() {
    set_panel_defaults(fields);
    list_folder(folders_.current_dir(), false);
    table.list_file = 0;
}

void main_dialog::command(int command_id) {
    switch (command_id) {
        case id::SHOW_FRAME:
            show_frame();
            break;
        case id::OPEN_FOLDER:
            open_folder();
            break;
        case id::IDC_BUTTON_ADD:
            add_file();
            break;
        case id::IDC_BUTTON_REMOVE:
            remove_file();
            break;
        case id::IDCANCEL:
            shut_down();
            break;
        default:
            break;
    }
}

bool main_dialog::list_folder(const std::string& dir, bool all_files) {
    std::string error;
    std::vector<dir_item> items;
    if (!folders_.read_dir(dir, items, &error) || !folders_.change_dir(dir, &error)) {
        platform_.message_box(box_icon::error, box_caption::open_folder,
                              "The folder cannot be listed:\n" + dir + "\n" + error);
        return false;
    }
    const std::string listed = folders_.current_dir();
    folder_entries_ = make_listing(listed, items, all_files, folders_.roots());
    folder_selection_ = -1;
    listed_dir_ = listed;
    listed_all_files_ = all_files;
    fields.set_text(id::FOLDER_NAME, listed);
    return true;
}

void main_dialog::relist() {
    if (listed_dir_.empty()) return;
    std::string error;
    std::vector<dir_item> items;
    if (!folders_.read_dir(listed_dir_, items, &error)) return; // gone: the list stays as it was
    std::optional<folder_entry> chosen;
    if (folder_selection_ >= 0 && static_cast<std::size_t>(folder_selection_) < folder_entries_.size())
        chosen = folder_entries_[static_cast<std::size_t>(folder_selection_)];
    folder_entries_ = make_listing(listed_dir_, items, listed_all_files_, folders_.roots());
    folder_selection_ = -1;
    for (std::size_t i = 0; chosen && i < folder_entries_.size(); ++i)
        if (folder_entries_[i].label == chosen->label) folder_selection_ = static_cast<int>(i);
}

void main_dialog::open_folder() {
    const auto chosen = platform_.choose_folder("Select a folder");
    if (!chosen || chosen->empty()) return;
    list_folder(*chosen, true);
}

void main_dialog::folder_double_click(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= folder_entries_.size()) return;
    folder_selection_ = index;
    const folder_entry entry = folder_entries_[static_cast<std::size_t>(index)];
    if (entry.kind == entry_kind::file) {
        command(id::IDC_BUTTON_ADD);
    } else {
        list_folder(entry.target, true);
    }
}

bool main_dialog::open_for_display(const std::string& path, box_caption caption) {
    fp1_.reset();
    auto file = fs_.open_read(path);
    if (!file) {
        platform_.message_box(box_icon::error, caption, "The file cannot be opened:\n" + path + "\n" + file.reason());
        return false;
    }
    auto reader = std::make_unique<ser::ser_reader>(std::move(file.value()));
    reader->read_ser_header();
    if (const std::string problem = not_ser_reason(*reader); !problem.empty()) {
        platform_.message_box(box_icon::error, caption, path + " is not a SER file this program can read:\n" + problem);
        return false;
    }
    fp1_ = std::move(reader);
    return true;
}

std::string main_dialog::image_caption(const std::string& path) const {
    // A colour or mosaic file says how it is read; a mono file's caption is its path alone.
    if (!fp1_ || fp1_->header().ColorID == 0) return path;
    return path + " (" + fp1_->layout_text() + ")";
}

void main_dialog::init_image_window() {
    const std::int32_t w = fp1_->width(), h = fp1_->height();
    // The read-out belongs to the file shown before.
    for (int f : {id::READOUT_X, id::READOUT_Y, id::READOUT_VALUE}) fields.set_text(f, "");
    // Each file starts fitted into the window (at most 100%); the window tells its room.
    check_display_size(fields, {true, {}});
    view.open(w, h, view_scale{});
    times_ = ser::read_frame_times(*fp1_);
    frame_buf_.assign(fp1_->samples_per_frame(), 0);
    close_image_window();
    image_window_ = platform_.create_image_window(view.client_w(), view.client_h());
    if (!image_window_)
        platform_.message_box(box_icon::error, box_caption::image_window, "The image window cannot be opened.");
    if (!display::prep_for_display(disp_, w, h))
        platform_.message_box(box_icon::error, box_caption::image_window,
                              "There is no memory for the picture of the frame.");
}

void main_dialog::close_image_window() {
    if (image_window_) platform_.destroy_image_window();
    image_window_ = false;
}

void main_dialog::render(int row) {
    display::render_levels levels;
    levels.blue_level = table.get_cell_int(row, col_blue);
    levels.red_level = table.get_cell_int(row, col_red);
    levels.brightness = table.get_cell_int(row, col_brt);
    const bool marks = fields.checked(id::SHOW_RED_BLUE);
    const auto repaint = [this] {
        if (!image_window_) return;
        view.frame_repainted(fields);
        platform_.repaint_image();
    };
    if (const auto stretch = levels_in_effect(levels_, frame_buf_)) {
        display::render_frame_stretched(disp_, frame_buf_, levels, *stretch, marks, repaint);
    } else {
        display::render_frame(disp_, frame_buf_, levels, marks, repaint);
    }
}

std::optional<display::stretch_levels> main_dialog::shown_levels() const {
    if (!fp1_ || frame_buf_.empty()) return std::nullopt;
    return display::frame_levels(frame_buf_);
}

void main_dialog::brightness_from_levels() {
    const int row = table.find_marked_row();
    const auto levels = shown_levels();
    if (row < 0 || !levels) return;
    table.set_cell(row, col_brt, std::to_string(display::brightness_for_high(levels->high)));
    render(row);
}

void main_dialog::add_file() {
    if (table.list_file > 0) table.clear_selection();
    if (folder_selection_ >= 0 && static_cast<std::size_t>(folder_selection_) < folder_entries_.size()) {
        const auto& entry = folder_entries_[static_cast<std::size_t>(folder_selection_)];
        sel_name_ = entry.kind == entry_kind::file ? entry.target : entry.label;
    }
    const auto slot = static_cast<std::size_t>(table.list_file);
    const std::string path = join_path(fields.text(id::FOLDER_NAME), sel_name_);
    if (path.size() > max_path_chars) {
        platform_.message_box(box_icon::error, box_caption::add_file,
                              "The path of the file is longer than 259 characters:\n" + path);
        return;
    }
    table.file_path[slot] = path;
    const bool is_file =
        folder_selection_ < 0 || folder_entries_[static_cast<std::size_t>(folder_selection_)].kind == entry_kind::file;
    if (!is_file) { // a folder or root entry names no readable file
        fp1_.reset();
        platform_.message_box(box_icon::error, box_caption::add_file,
                              "Choose a file in the folder list first:\n" + path + " is a folder.");
        return;
    }
    if (!open_for_display(path, box_caption::add_file)) return;
    fields.set_int(id::IMAGE_WIDTH, fp1_->width());
    fields.set_int(id::IMAGE_HEIGHT, fp1_->height());
    bit_shift_ = std::clamp(fields.get_int(id::BIT_SHIFT), 0, max_shift);
    fp1_->set_bit_shift(bit_shift_);
    table.insert_row(default_row(sel_name_, fp1_->frames_present(), fp1_->depth(), bit_shift_));
    init_image_window();
    fp1_->seek_frame(0);
    fp1_->read_frame(frame_buf_);
    cur_frame_ = 0;
    fields.set_int(id::FRAME_NO, 0);
    render(table.list_file);
    platform_.set_image_caption(image_caption(path));
    if (table.list_file < max_listed_files) {
        ++table.list_file;
        table.mark_row(table.list_file - 1);
        return;
    }
    platform_.message_box(box_icon::warning, box_caption::add_file,
                          "The table already holds " + std::to_string(max_listed_files) +
                              " files, the most one scan takes.\nThis file is shown but will not be scanned.");
}

void main_dialog::remove_file() {
    if (table.list_file < 1) return;
    int row = -1;
    for (int i = 0; i < table.list_file; ++i) {
        if (table.rows[static_cast<std::size_t>(i)].focused) {
            row = i;
            break;
        }
    }
    if (row < 0) return;
    const bool was_marked = row == table.find_marked_row();
    table.delete_row(row);
    for (int i = row + 1; i < table.list_file; ++i)
        table.file_path[static_cast<std::size_t>(i - 1)] = table.file_path[static_cast<std::size_t>(i)];
    --table.list_file;
    if (was_marked || table.list_file == 0) {
        close_image_window();
        cur_frame_ = 0;
        fields.set_int(id::FRAME_NO, 0);
    }
    table.clear_selection();
}

void main_dialog::set_focused_row(int row) {
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        table.rows[i].focused = static_cast<int>(i) == row;
        table.rows[i].selected = static_cast<int>(i) == row;
    }
}

void main_dialog::show_frame() {
    const int row = table.find_marked_row();
    if (row < 0 || !fp1_) return;
    cur_frame_ = fields.get_int(id::FRAME_NO);
    const std::int32_t last = table.get_cell_int(row, col_frames) - 1;
    if (cur_frame_ > last) cur_frame_ = last;
    if (cur_frame_ < 0) cur_frame_ = 0; // also for a file without frames
    fields.set_uint(id::FRAME_NO, static_cast<std::uint32_t>(cur_frame_));
    if (frame_buf_.empty()) frame_buf_.assign(fp1_->samples_per_frame(), 0);
    fp1_->set_bit_shift(bit_shift_);
    fp1_->seek_frame(cur_frame_);
    fp1_->read_frame(frame_buf_);
    render(row);
}

void main_dialog::frame_stepper(int stepper_id, int delta) {
    if (table.find_marked_row() < 0) return;
    const auto step = static_cast<std::uint32_t>(frame_step(stepper_id));
    std::uint32_t v = fields.get_uint(id::FRAME_NO);
    if (delta < 0) v += step;
    if (delta > 0) v -= step; // may wrap; "Show frame" then reads it as 0
    fields.set_uint(id::FRAME_NO, v);
    command(id::SHOW_FRAME);
}

void main_dialog::bit_shift_stepper(int delta) {
    std::int64_t v = static_cast<std::int32_t>(fields.get_uint(id::BIT_SHIFT));
    if (delta < 0) ++v;
    if (delta > 0) --v;
    v = std::clamp<std::int64_t>(v, 0, 8);
    bit_shift_ = static_cast<std::int32_t>(v);
    fields.set_int(id::BIT_SHIFT, bit_shift_);
    command(id::SHOW_FRAME);
}

void main_dialog::table_double_click(int x, int row) { cell_double_click(column_at_x(x), row); }

void main_dialog::cell_double_click(int col, int row) {
    // Rows past the counted ones have no path entry of their own: nothing to show or edit.
    if (row < 0 || row >= table.list_file) return;
    if (col == col_name) {
        show_file(row);
    } else if (col >= col_start) {
        edit_value(row, col);
    }
}

void main_dialog::show_file(int row) {
    if (row < 0 || row >= table.list_file) return;
    const std::string path = table.file_path[static_cast<std::size_t>(row)];
    if (!open_for_display(path, box_caption::show_file)) return;
    fp1_->set_bit_shift(bit_shift_);
    init_image_window();
    fp1_->seek_frame(0);
    fp1_->read_frame(frame_buf_);
    cur_frame_ = 0;
    fields.set_int(id::FRAME_NO, 0);
    render(row);
    platform_.set_image_caption(image_caption(path));
    table.mark_row(row);
}

void main_dialog::edit_value(int row, int col) {
    std::string value_text = table.cell(row, col);
    value_rules rules;
    if (const setting_rule* rule = setting_for_column(col); rule != nullptr) rules.allowed = allowed_values(*rule);
    rules.problem = [this, row, col](const std::string& text) { return cell_problem(table, row, col, text); };
    if (!platform_.edit_value(value_text, rules)) return;
    if (value_text.size() > max_cell_chars) value_text.resize(max_cell_chars);
    if (cell_problem(table, row, col, value_text).empty()) table.set_cell(row, col, value_text);
}

std::optional<batch_job> main_dialog::begin_batch() {
    for (int f : {id::FRAME_NO, id::READOUT_X, id::READOUT_Y, id::READOUT_VALUE}) fields.set_text(f, "");
    if (table.list_file == 0) {
        platform_.message_box(box_icon::error, box_caption::start_scan, "There is no file to scan: add one first.");
        return std::nullopt;
    }
    std::vector<std::string> problems = field_problems(fields);
    for (int row = 0; row < table.list_file; ++row)
        if (std::string problem = row_problem(table, row, fields); !problem.empty()) problems.push_back(problem);
    if (!problems.empty()) {
        platform_.message_box(box_icon::error, box_caption::start_scan,
                              "The scan cannot start:\n" + join_lines(problems, "\n"));
        return std::nullopt;
    }
    // The image window keeps the frame last shown; each file of the run is opened by the run itself.
    fp1_.reset();
    batch_notes_.clear();
    status_line_ = "Scanning " + std::to_string(table.list_file) + (table.list_file == 1 ? " file" : " files");
    status_details_.clear();
    return batch_job{jobs_from_table(table, fields, bit_shift_), read_moon_options(fields)};
}

void main_dialog::batch_row_marked(int row) { table.mark_row(row); }

void main_dialog::batch_threshold(std::int32_t threshold) { fields.set_int(id::THRESHOLD_AT_PRESENT, threshold); }

void main_dialog::batch_frame(std::int32_t frame) {
    // After a whole pass the engine stands one past the stop frame: show the last one examined.
    if (const int row = table.find_marked_row(); row >= 0) frame = std::min(frame, table.get_cell_int(row, col_stop));
    fields.set_int(id::FRAME_NO, frame);
}

void main_dialog::batch_message(const detect::engine_message& m) {
    // The panel's own closing box says how the run went, worded for a stopped run too.
    if (m.kind == detect::message_kind::closing) return;
    std::string line = m.text;
    if (m.kind == detect::message_kind::failure && !m.reason.empty()) {
        // A failure in plain words with its cause, after the name of the file it befell.
        line = m.reason;
        if (m.file >= 0 && m.file < table.list_file)
            line = std::filesystem::path(table.file_path[static_cast<std::size_t>(m.file)]).filename().string() + ": " +
                   line;
    }
    std::replace(line.begin(), line.end(), '\n', ' ');
    batch_notes_.push_back(line);
    status_line_ = line;
}

void main_dialog::end_batch(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders) {
    frame_buf_.clear();
    frame_buf_.shrink_to_fit();
    if (report.empty_table) return;
    const batch_counts counts = count_results(report, folders);
    status_line_ = batch_headline(report, counts);
    status_details_ = batch_status(report, folders);
    for (const std::string& note : batch_notes_) status_details_ += "\n" + note;
    std::string text = status_line_ + ".";
    if (!batch_notes_.empty()) text += "\n\n" + join_lines(batch_notes_, "\n");
    const box_icon icon = !batch_notes_.empty() || !report.all_scanned() ? box_icon::warning : box_icon::information;
    platform_.message_box(icon, report.stopped ? box_caption::scan_stopped : box_caption::scan_finished, text);
    // The last file scanned is on display again, so "Show frame" and the steppers work at once.
    if (const int row = table.find_marked_row(); row >= 0) show_file(row);
}

void main_dialog::shut_down() {
    close_image_window();
    fp1_.reset();
    frame_buf_.clear();
    disp_ = {};
}

void main_dialog::image_mouse_move(view_point p) {
    const bool dragging = view.dragging();
    const auto before = view.overlay();
    view.mouse_move(p, fields, frame_buf_);
    if (dragging && view.overlay() != before) platform_.repaint_image();
}

void main_dialog::image_right_down(view_point p) {
    view.right_down(p, fields);
    platform_.repaint_image();
}

void main_dialog::image_right_up(view_point p) { view.right_up(p, fields); }

} // namespace serflash::ui
