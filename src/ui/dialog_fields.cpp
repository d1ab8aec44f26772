#include "ui/dialog_fields.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace serflash::ui {
namespace {
const std::string empty_text;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
} // namespace

bool parse_dialog_int(const std::string& text, bool is_signed, std::int64_t& value) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (is_signed && i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    const std::size_t digits_start = i;
    std::int64_t v = 0;
    const std::int64_t limit =
        is_signed ? (negative ? std::int64_t{2147483648} : std::int64_t{2147483647}) : std::int64_t{4294967295};
    while (i < text.size() && is_digit(text[i])) {
        v = v * 10 + (text[i] - '0');
        if (v > limit) return false;
        ++i;
    }
    if (i == digits_start) return false;
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i != text.size()) return false;
    value = negative ? -v : v;
    return true;
}

std::int32_t atoi_text(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t v = 0;
    while (i < text.size() && is_digit(text[i])) {
        v = v * 10 + (text[i] - '0');
        if (v > std::int64_t{1} << 32) v = std::int64_t{1} << 32; // saturate, keep reading
        ++i;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

const std::string& dialog_fields::text(int id) const {
    const auto it = text_.find(id);
    return it == text_.end() ? empty_text : it->second;
}

void dialog_fields::set_text(int id, std::string text) {
    text_[id] = std::move(text);
    changed(id);
}

std::int32_t dialog_fields::get_int(int id, bool* translated) const {
    std::int64_t v = 0;
    const bool ok = parse_dialog_int(text(id), true, v);
    if (translated != nullptr) *translated = ok;
    return ok ? static_cast<std::int32_t>(v) : 0;
}

std::uint32_t dialog_fields::get_uint(int id, bool* translated) const {
    std::int64_t v = 0;
    const bool ok = parse_dialog_int(text(id), false, v);
    if (translated != nullptr) *translated = ok;
    return ok ? static_cast<std::uint32_t>(v) : 0U;
}

void dialog_fields::set_int(int id, std::int32_t value) { set_text(id, std::to_string(value)); }

void dialog_fields::set_uint(int id, std::uint32_t value) { set_text(id, std::to_string(value)); }

bool dialog_fields::checked(int id) const {
    const auto it = checked_.find(id);
    return it != checked_.end() && it->second;
}

void dialog_fields::set_checked(int id, bool on) {
    checked_[id] = on;
    changed(id);
}

void dialog_fields::check_radio(int first, int last, int id) {
    for (int b = first; b <= last; ++b) checked_[b] = (b == id);
    for (int b = first; b <= last; ++b) changed(b);
}

void dialog_fields::changed(int id) const {
    if (on_change) on_change(id);
}

} // namespace serflash::ui
