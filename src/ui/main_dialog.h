#pragma once
// The control panel's state and commands, free of any toolkit: its fields, the scan table, the
// folder list, the file on display with its frame and display bitmap, and the image window's
// logic. The windowing layer mirrors the fields and forwards clicks, key presses and pointer
// events here; whatever it must show comes back through panel_platform.
#include "detect/batch.h"
#include "display/render.h"
#include "platform/file_io.h"
#include "report/moon_observation.h"
#include "ser/ser_reader.h"
#include "ui/dialog_fields.h"
#include "ser/frame_times.h"
#include "ui/folder_list.h"
#include "ui/histogram.h"
#include "ui/image_view.h"
#include "ui/panel_platform.h"
#include "ui/scan_table.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace serflash::ui {

// The scan table's column under a point x of the list view (fixed column widths; scrolling
// and resized columns are not taken into account).
int column_at_x(int x);

// Why a counted row cannot be scanned with the panel's values (a frame range without a whole
// packet, a packet of no frames, frames outside the file, a threshold step below 1), or empty
// when it can. The same test as the batch run's own.
std::string row_problem(const scan_table& table, int row, const dialog_fields& fields);
// Why the panel's fields cannot be scanned with, each with the values allowed.
std::vector<std::string> field_problems(const dialog_fields& fields);
// Why `text` cannot be the value of cell (row, col): the column's allowed values, and a frame
// range that stays in the file and holds a whole packet. Empty when it can.
std::string cell_problem(const scan_table& table, int row, int col, const std::string& text);

// Everything a batch run works on, taken from the panel when the run starts (the panel is
// locked while it runs): one scan job per listed file, in table order.
struct batch_job {
    std::vector<detect::scan_job> jobs;
    report::moon_options moon; // where and how the files were seen, for the candidates' places
};

class main_dialog {
public:
    main_dialog(panel_platform& platform, folder_access& folders, platform::file_system& fs);

    dialog_fields fields;
    scan_table table;
    image_view view;

    // Dialog start-up: every field to its default, the folder list of the current directory.
    void init();

    // Commands of the panel: "Show frame", "Open folder", Add, Remove, and IDCANCEL (shut-down).
    void command(int id);
    // Up-down notifications: delta < 0 is the up arrow (forward in the file).
    void frame_stepper(int stepper_id, int delta);
    void bit_shift_stepper(int delta);

    // Folder list.
    const std::vector<folder_entry>& folder_entries() const { return folder_entries_; }
    void select_folder_entry(int index) { folder_selection_ = index; }
    int folder_selection() const { return folder_selection_; }
    void folder_double_click(int index);
    // Lists a folder (every file when all_files, else *.ser) and makes it the current directory.
    bool list_folder(const std::string& dir, bool all_files);
    // Lists the folder listed last again (its files changed), keeping the entry chosen.
    void relist();

    // Scan table.
    void set_focused_row(int row); // the row the user last clicked or moved to; -1 for none
    // A double-click at x (list view client coordinates) on row `row` (-1: below the rows).
    void table_double_click(int x, int row);
    // A double-click on cell (row, col) (row -1: below the rows).
    void cell_double_click(int col, int row);
    void show_file(int row);

    // Batch run: checks the table and prepares the panel (empty read-outs, no image window),
    // then returns what the run needs; nothing when there is nothing sound to scan.
    std::optional<batch_job> begin_batch();
    // Progress of the run, applied on the panel's thread.
    void batch_row_marked(int row);
    void batch_threshold(std::int32_t threshold);
    void batch_frame(std::int32_t frame);
    // A file of the run has something to tell: it goes to the status line and the closing box
    // (the run's closing message does not: the closing box says that in the panel's words).
    void batch_message(const detect::engine_message& m);
    const std::vector<std::string>& batch_notes() const { return batch_notes_; }
    // The run ended: buffers released, one closing box with every note of the run, and the
    // marked row's file (the last one scanned) shown again at frame 0. `folders`: the results
    // folders of the run that exist.
    void end_batch(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders);
    // One line on the state of the panel's scan, and what lies behind it.
    const std::string& status_line() const { return status_line_; }
    const std::string& status_details() const { return status_details_; }

    // "Display size" changed: the frame on display is shown at the new size, same frame, in the
    // same window. Each file opened for display starts at "Fit to window" (at most 100%).
    void zoom_changed();
    // The room the image window has for the frame (display pixels); with "Fit to window" the
    // frame is fitted into it. Returns whether the shown size changed.
    bool image_room(int w, int h);
    // A zoom from the image window (Ctrl+wheel): `steps` standard sizes up or down.
    bool zoom_steps(int steps);
    // "Auto levels" of the image window: the shown frame is stretched between low and high
    // percentiles of its samples instead of the row's Brt. Snapshots always use the row's Brt.
    void set_auto_levels(bool on);
    bool auto_levels() const { return levels_.source == level_source::automatic; }
    // Black and white points chosen on the histogram (display only).
    void set_chosen_levels(const display::stretch_levels& levels);
    const level_choice& level_setting() const { return levels_; }
    // The levels the frame on display is shown with; nothing when the row's Brt is used.
    std::optional<display::stretch_levels> display_levels() const;
    // What the window says of them: "levels 220 to 4043" (with "chosen" for the histogram's
    // points), or the row's "Brt 1000" when the frame is shown as the snapshots are.
    std::string levels_text() const;
    // The percentile levels of the frame on display (nothing without a shown frame).
    std::optional<display::stretch_levels> shown_levels() const;
    // The histogram of the frame on display at the file's bits per sample.
    histogram frame_histogram() const;
    // Sets the marked row's Brt so that the high level shows white, then shows the frame again.
    void brightness_from_levels();
    // Steps the frame on display by `frames` (negative: back), as the steppers do.
    void step_frames(std::int32_t frames);
    // Shows a frame of the file on display (clamped to its frames).
    void go_to_frame(std::int32_t frame);
    // Frames of the file on display (its row's frame count), 0 without one.
    std::int32_t frame_count() const;
    // When each frame of the file on display was taken, as far as the file tells.
    const ser::frame_times& frame_times() const { return times_; }
    // "frame 37 of 300" and, when known, the frame's UTC time.
    std::string frame_status() const;

    // Image window events.
    void image_mouse_move(view_point p);
    void image_right_down(view_point p);
    void image_right_up(view_point p);
    // The client area's pixels as 0xFFRRGGBB, client_w x client_h.
    std::vector<std::uint32_t> image_pixels() const { return view.compose(disp_); }
    bool image_window_open() const { return image_window_; }

    // The file on display.
    bool file_open() const { return fp1_ != nullptr; }
    const ser::ser_reader* open_file() const { return fp1_.get(); }
    const std::vector<std::uint16_t>& frame_buf() const { return frame_buf_; }
    const display::display_bitmap& display() const { return disp_; }
    std::int32_t cur_frame() const { return cur_frame_; }
    std::int32_t bit_shift() const { return bit_shift_; }
    const std::string& sel_name() const { return sel_name_; }

private:
    void add_file();
    void remove_file();
    void show_frame();
    void open_folder();
    void shut_down();
    void edit_value(int row, int col);
    // Opens a path as the file on display and reads its header; reports failures under caption.
    bool open_for_display(const std::string& path, box_caption caption);
    // The image window's caption for the file on display.
    std::string image_caption(const std::string& path) const;
    // Sizes the view and buffers for the open file and replaces the image window.
    void init_image_window();
    void render(int row);
    void close_image_window();

    panel_platform& platform_;
    folder_access& folders_;
    platform::file_system& fs_;

    std::vector<folder_entry> folder_entries_;
    int folder_selection_ = -1;
    std::string sel_name_;

    std::unique_ptr<ser::ser_reader> fp1_;
    std::vector<std::uint16_t> frame_buf_;
    display::display_bitmap disp_;
    std::int32_t cur_frame_ = 0;
    std::int32_t bit_shift_ = 0;
    bool image_window_ = false;
    std::string listed_dir_;
    bool listed_all_files_ = false;
    std::vector<std::string> batch_notes_;
    std::string status_line_, status_details_;
    level_choice levels_;
    ser::frame_times times_;
    window_size room_{1 << 15, 1 << 15}; // the image window's room for the frame, as it last said
};

// Why an opened file cannot be a SER file this program reads (its header's geometry, sample
// depth, or a size too short for one frame), or empty when it can be read.
std::string not_ser_reason(const ser::ser_reader& reader);

} // namespace serflash::ui
