#pragma once
// Comma-separated tables as RFC 4180 has them: CR LF line ends, a field quoted when it holds a
// comma, a quote or a line break, quotes inside doubled.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace serflash::report {

std::string csv_field(std::string_view text);
// The fields quoted as needed and joined, with the CR LF line end.
std::string csv_line(const std::vector<std::string>& fields);

// The rows of a table (an empty last line is no row); nullopt when a quoted field is not
// closed, with the line it began on in error.
std::optional<std::vector<std::vector<std::string>>> parse_csv(std::string_view text, std::string* error = nullptr);

// A value with a fixed number of decimals, or empty when it is not finite.
std::string fixed_decimals(double value, int decimals);

} // namespace serflash::report
