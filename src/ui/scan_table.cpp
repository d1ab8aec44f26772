#include "ui/scan_table.h"

#include "ui/dialog_fields.h"

#include <cmath>

namespace serflash::ui {
namespace {
const std::string empty_cell;
}

std::array<std::string, column_count> default_row(const std::string& name, std::int32_t frames, std::int32_t depth,
                                                  std::int32_t bit_shift) {
    std::array<std::string, column_count> c;
    c[col_name] = name;
    c[col_frames] = std::to_string(frames);
    c[col_start] = "0";
    c[col_stop] = std::to_string(static_cast<std::int64_t>(frames) - 1);
    std::int32_t max_det = frames / 100 + 1;
    if (max_det > 200) max_det = 200;
    c[col_max] = std::to_string(max_det);
    c[col_pack] = std::to_string(frames < 200 ? frames : 200);
    const bool eight_bit = depth == 8;
    c[col_blue] = eight_bit ? "0" : "500";
    c[col_red] = eight_bit ? "255" : "3800";
    if (eight_bit) {
        c[col_brt] = "1000";
    } else {
        // Shifts are kept within 0..15 wherever they are taken, so the gain always fits.
        const int shift = bit_shift < 0 ? 0 : (bit_shift > 15 ? 15 : bit_shift);
        const double brt = std::pow(2.0, shift - 8) * 1000.0 + 0.5;
        c[col_brt] = std::to_string(static_cast<std::int32_t>(brt));
    }
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
        rows[static_cast<std::size_t>(i)].cells[col_mark] = (i == k) ? "1" : "";
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
