#pragma once
// Comma-separated tables as RFC 4180 has them: CR LF line ends, a field quoted when it holds a
// comma, a quote or a line break, quotes inside doubled. A text that a spreadsheet would take for
// a formula (it begins with =, +, - or @, or a tab or CR, and is not a number) is written with a
// single quote before it, as the OWASP advice on CSV injection has it; csv_text takes it off.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace serflash::report {

std::string csv_field(std::string_view text);
// A field as written, without the quote that kept it from being a formula.
std::string csv_text(std::string_view field);
// The fields quoted as needed and joined, with the CR LF line end.
std::string csv_line(const std::vector<std::string>& fields);

// Reads the rows of a table from its bytes given piece by piece, so that a large table is never
// held whole. A row ends at CR LF, LF or a lone CR.
class csv_reader {
public:
    // Rows completed by this piece are appended to rows.
    void feed(std::string_view piece, std::vector<std::vector<std::string>>& rows);
    // The end of the text: its last row, if any; false when a quoted field is not closed, with
    // the line it began on in error.
    bool finish(std::vector<std::vector<std::string>>& rows, std::string* error);
    // The bytes of the field being read: a caller bounds what one field may take.
    std::size_t open_field_bytes() const { return field_.size(); }

private:
    void end_row(std::vector<std::vector<std::string>>& rows);

    std::vector<std::string> row_;
    std::string field_;
    bool quoted_ = false;
    bool quote_pending_ = false; // a quote inside a quoted field: the end, or the first of two
    bool after_cr_ = false;      // an LF now ends nothing
    bool field_started_ = false;
    long line_ = 1;
    long quote_line_ = 0;
};

// The rows of a table (an empty last line is no row); nullopt when a quoted field is not
// closed, with the line it began on in error.
std::optional<std::vector<std::vector<std::string>>> parse_csv(std::string_view text, std::string* error = nullptr);

// A value with a fixed number of decimals, or empty when it is not finite.
std::string fixed_decimals(double value, int decimals);

} // namespace serflash::report
