#include "report/csv.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace serflash::report {

namespace {

bool is_number(std::string_view text) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc{} && end == text.data() + text.size();
}

bool looks_like_formula(std::string_view text) {
    if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) return false;
    return !is_number(text.front() == '+' ? text.substr(1) : text);
}

} // namespace

std::string csv_field(std::string_view text) {
    const std::string guarded = looks_like_formula(text) ? "'" + std::string(text) : std::string(text);
    if (guarded.find_first_of(",\"\r\n") == std::string::npos) return guarded;
    std::string out = "\"";
    for (const char c : guarded) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csv_text(std::string_view field) {
    if (field.size() > 1 && field.front() == '\'' && looks_like_formula(field.substr(1))) field.remove_prefix(1);
    return std::string(field);
}

std::string csv_line(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += csv_field(fields[i]);
    }
    return line + "\r\n";
}

void csv_reader::end_row(std::vector<std::vector<std::string>>& rows) {
    row_.push_back(std::move(field_));
    field_.clear();
    rows.push_back(std::move(row_));
    row_.clear();
    field_started_ = false;
}

void csv_reader::feed(std::string_view piece, std::vector<std::vector<std::string>>& rows) {
    for (const char c : piece) {
        const bool after_cr = std::exchange(after_cr_, false);
        if (quote_pending_) {
            quote_pending_ = false;
            if (c == '"') {
                field_ += '"';
                continue;
            }
            quoted_ = false;
        }
        if (quoted_) {
            if (c == '"') {
                quote_pending_ = true;
            } else {
                if (c == '\r' || (c == '\n' && !after_cr)) ++line_;
                after_cr_ = c == '\r';
                field_ += c;
            }
            continue;
        }
        if (c == '"' && field_.empty()) {
            quoted_ = true;
            quote_line_ = line_;
            field_started_ = true;
        } else if (c == ',') {
            row_.push_back(std::move(field_));
            field_.clear();
            field_started_ = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\n' && after_cr) continue; // the LF of a CR LF
            ++line_;
            after_cr_ = c == '\r';
            end_row(rows);
        } else {
            field_ += c;
            field_started_ = true;
        }
    }
}

bool csv_reader::finish(std::vector<std::vector<std::string>>& rows, std::string* error) {
    if (quote_pending_) {
        quote_pending_ = false;
        quoted_ = false;
    }
    if (quoted_) {
        if (error != nullptr)
            *error = "a quoted field that begins on line " + std::to_string(quote_line_) + " never ends";
        return false;
    }
    if (field_started_ || !row_.empty()) end_row(rows);
    return true;
}

std::optional<std::vector<std::vector<std::string>>> parse_csv(std::string_view text, std::string* error) {
    std::vector<std::vector<std::string>> rows;
    csv_reader reader;
    reader.feed(text, rows);
    if (!reader.finish(rows, error)) return std::nullopt;
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
