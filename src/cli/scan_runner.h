#pragma once
// The scan of a list of SER files from the command line: fills the panel's fields and the scan
// table exactly as the desktop program does, then runs the batch.
#include "detect/batch.h"
#include "ui/dialog_fields.h"

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace serflash::cli {

// Values typed on the command line; what is not given keeps the desktop program's default.
struct scan_request {
    std::vector<std::string> files;
    std::string dir = ".";
    std::vector<std::pair<int, std::int32_t>> field_values; // control id, value
    std::vector<std::pair<int, bool>> switches;             // check box id, state
    std::int32_t bit_shift = 0;
    // Scan-table columns given for every file (column, value).
    std::vector<std::pair<int, std::int32_t>> row_values;
    unsigned jobs = 1;      // files scanned at once
    bool reference = false; // the straightforward scan instead of the fast one
};

struct scan_run {
    std::vector<detect::file_report> files;
    detect::local_time start, end;
    bool stopped = false;
    bool all_scanned() const;
};

// Scans the files in order (in batches of at most 40, the table's size), printing one line
// per file to out, messages to err and, when progress is set, a progress line on err.
scan_run run_scan_request(const scan_request& request, std::ostream& out, std::ostream& err, bool progress,
                          const std::function<bool()>& stop_requested = {});

// The panel's fields as the desktop program holds them at start-up, with the typed values.
ui::dialog_fields panel_fields(const scan_request& request);
// The scan-table row that Add gives a file (defaults from its header and the frames it really
// holds; a file that cannot be read gets those of an empty file and the batch reports it).
std::array<std::string, 10> row_for(const std::string& path, std::int32_t bit_shift);

// "x1,y1,x2,y2" as four integers.
std::optional<std::array<std::int32_t, 4>> parse_rectangle(const std::string& text);

} // namespace serflash::cli
