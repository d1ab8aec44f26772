#pragma once
// Model of the scan table "SER files for scans": the listed files' paths and the ten text
// columns of each row. Toolkit-free; the Qt list view only shows it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace serflash::ui {

inline constexpr int max_listed_files = 40;
inline constexpr std::size_t max_path_chars = 259;
inline constexpr std::size_t max_cell_chars = 255;
inline constexpr int column_count = 10;

enum column : int {
    col_mark = 0,
    col_name = 1,
    col_frames = 2,
    col_start = 3,
    col_stop = 4,
    col_max = 5,
    col_pack = 6,
    col_blue = 7,
    col_red = 8,
    col_brt = 9,
};

struct column_info {
    const char* header;
    int width;
};
inline constexpr std::array<column_info, column_count> columns = {{
    {"", 20},
    {"SER file name", 100},
    {"frames", 65},
    {"start", 40},
    {"stop", 55},
    {"Max", 40},
    {"pack.", 40},
    {"BLUE", 40},
    {"RED", 40},
    {"Brt", 40},
}};

struct scan_row {
    std::array<std::string, column_count> cells;
    bool selected = false;
    bool focused = false;
};

// The cell values a newly listed file gets. `frames` is the number of frames the file
// really holds (its FrameCount, or fewer when the capture was cut short).
std::array<std::string, column_count> default_row(const std::string& name, std::int32_t frames, std::int32_t depth,
                                                  std::int32_t bit_shift);

class scan_table {
public:
    // Rows of the list view in order; rows at index list_file and beyond are uncounted
    // (added while the table was full).
    std::vector<scan_row> rows;
    // Paths of the counted rows, plus one overflow entry at index max_listed_files.
    std::array<std::string, max_listed_files + 1> file_path;
    int list_file = 0;

    // atoi of the cell text; 0 for a row or column that does not exist.
    std::int32_t get_cell_int(int row, int col) const;
    const std::string& cell(int row, int col) const;
    void set_cell(int row, int col, std::string text);

    // Appends the row of a file at index list_file (before any uncounted rows).
    void insert_row(const std::array<std::string, column_count>& cells);
    void delete_row(int row);

    void mark_row(int k);
    int find_marked_row() const;
    void clear_selection();
};

} // namespace serflash::ui
