#pragma once
// Every number a scan is set with, declared once: where it lives on the control panel (a field
// or a scan-table column), its command-line option, its help and the values it may take. The
// panel checks typed values against it, the command line builds its options and their range
// checks from it, and the tooltips quote its help.
#include "detect/scan_settings.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace serflash::ui {

enum class setting_home {
    field,  // a field of the control panel: one value for every file
    column, // a column of the scan table: a value per file
    option, // the command line only (the panel keeps the default)
};

// Where a value is shown in the help of the command line.
enum class setting_group { detection, masks, per_file };

struct setting_rule {
    setting_home home;
    int place;                                  // control id (field) or scan-table column; 0 for an option
    std::int32_t detect::scan_settings::*value; // null for a value kept outside the settings
    std::string_view name;                      // the value in words, as messages name it
    std::string_view flag;                      // the command-line option
    setting_group group;
    std::int32_t min, max; // whole numbers from min to max
    std::string_view help;
};

inline constexpr std::int32_t any_count = std::numeric_limits<std::int32_t>::max();

// The values, in the order the command line's help lists them. Defaults: detect::scan_settings's
// initialisers for the fields, detect::default_settings for a file's row.
extern const std::array<setting_rule, 22> scan_setting_table;

const setting_rule* setting_for_field(int control_id);
const setting_rule* setting_for_column(int column);

// "a whole number from 1 to 2147483647" (or "of at least 1" when there is no upper bound).
std::string allowed_values(const setting_rule& rule);
// Why a typed text is no value of this setting, or empty when it is one. Leading and trailing
// blanks are allowed; anything else must be a whole decimal number within the range.
std::string value_problem(const setting_rule& rule, const std::string& text);

// The set-up of the observation, which the file does not tell: where it was made and how the
// image is turned. Text fields (empty: not given) and the mirror's check box, each with its
// command-line option and help.
struct setup_rule {
    int place; // control id
    std::string_view name;
    std::string_view flag;
    std::string_view help;
    // Why a typed text is no value, empty when it is one (an empty text is: nothing given).
    // Null for the check box.
    std::string (*problem)(const std::string& text);
};
extern const std::array<setup_rule, 3> setup_setting_table;
const setup_rule* setup_for_field(int control_id);

// "DEG": any finite decimal number of degrees, blanks around it allowed; nothing with why not.
std::optional<double> parse_rotation(const std::string& text, std::string& error);

} // namespace serflash::ui
