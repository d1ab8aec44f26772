#include "ui/scan_table.h"

#include "detect/scan_settings.h"
#include "ui/dialog_fields.h"

namespace serflash::ui {
namespace {
const std::string empty_cell;
}

std::array<std::string, column_count> default_row(const std::string& name, std::int32_t frames, std::int32_t depth,
                                                  std::int32_t bit_shift) {
    const detect::scan_settings d = detect::default_settings(frames, depth, bit_shift);
    std::array<std::string, column_count> c;
    c[col_name] = name;
    c[col_frames] = std::to_string(frames);
    c[col_start] = std::to_string(d.start_frame);
    c[col_stop] = std::to_string(d.end_frame);
    c[col_max] = std::to_string(d.max_det_frames);
    c[col_pack] = std::to_string(d.packet_size);
    c[col_blue] = std::to_string(d.blue_level);
    c[col_red] = std::to_string(d.red_level);
    c[col_brt] = std::to_string(d.brightness);
    return c;
}

std::int32_t scan_table::get_cell_int(int row, int col) const { return atoi_text(cell(row, col)); }

const std::string& scan_table::cell(int row, int col) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || col < 0 || col >= column_count) return empty_cell;
    return rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(col)];
}

void scan_table::set_cell(int row, int col, std::string text) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || col < 0 || col >= column_count) return;
    if (text.size() > max_cell_chars) text.resize(max_cell_chars);
    rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(col)] = std::move(text);
}

void scan_table::insert_row(const std::array<std::string, column_count>& cells) {
    scan_row r;
    r.cells = cells;
    rows.insert(rows.begin() + list_file, std::move(r));
}

void scan_table::delete_row(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return;
    rows.erase(rows.begin() + row);
}

void scan_table::mark_row(int k) {
    for (int i = 0; i < list_file && static_cast<std::size_t>(i) < rows.size(); ++i)
        rows[static_cast<std::size_t>(i)].cells[col_mark].assign(i == k ? 1U : 0U, '1'); // "1" or ""
}

int scan_table::find_marked_row() const {
    for (int i = 0; i < list_file && static_cast<std::size_t>(i) < rows.size(); ++i)
        if (get_cell_int(i, col_mark) == 1) return i;
    return -1;
}

void scan_table::clear_selection() {
    for (int i = 0; i < list_file && static_cast<std::size_t>(i) < rows.size(); ++i) {
        auto& r = rows[static_cast<std::size_t>(i)];
        if (r.selected || r.focused) {
            r.selected = false;
            r.focused = false;
        }
    }
}

} // namespace serflash::ui
