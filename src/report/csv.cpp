#include "report/csv.h"

#include <cmath>
#include <cstdio>

namespace serflash::report {

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csv_line(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += csv_field(fields[i]);
    }
    return line + "\r\n";
}

std::optional<std::vector<std::vector<std::string>>> parse_csv(std::string_view text, std::string* error) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    bool field_started = false;
    int line = 1;
    int quote_line = 0;
    const auto end_row = [&] {
        row.push_back(std::move(field));
        field.clear();
        rows.push_back(std::move(row));
        row.clear();
        field_started = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == '"' && field.empty()) {
            quoted = true;
            quote_line = line;
            field_started = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
            field_started = true;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // The line ends at the LF.
        } else if (c == '\n') {
            ++line;
            end_row();
        } else {
            field += c;
            field_started = true;
        }
    }
    if (quoted) {
        if (error != nullptr)
            *error = "a quoted field that begins on line " + std::to_string(quote_line) + " never ends";
        return std::nullopt;
    }
    if (field_started || !row.empty()) end_row();
    return rows;
}

std::string fixed_decimals(double value, int decimals) {
    if (!std::isfinite(value)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find_first_not_of("-0.") == std::string::npos && s.front() == '-') s.erase(0, 1); // no "-0.00"
    return s;
}

} // namespace serflash::report
