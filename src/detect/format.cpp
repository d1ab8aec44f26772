#include "detect/format.h"

#include <algorithm>
#include <cstdio>

namespace serflash::detect {

std::string vformat_bounded(std::size_t capacity, const char* format, std::va_list args) {
    if (capacity == 0) return {};
    std::string buf(capacity, '\0');
    const int n = std::vsnprintf(buf.data(), capacity, format, args);
    if (n < 0) return {};
    const std::size_t len = static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity - 1;
    buf.resize(len);
    return buf;
}

std::string format_bounded(std::size_t capacity, const char* format, ...) {
    if (capacity == 0) return {};
    std::va_list args;
    va_start(args, format);
    std::string s = vformat_bounded(capacity, format, args);
    va_end(args);
    return s;
}

std::string join_texts(const std::vector<std::string>& texts, const std::string& separator) {
    std::string text;
    for (const std::string& t : texts) text += (text.empty() ? "" : separator) + t;
    return text;
}

std::string cut_utf8(const std::string& text, std::size_t n) {
    if (text.size() <= n) return text;
    std::size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) --end;
    return text.substr(0, end);
}

std::size_t utf8_sequence_length(std::string_view text) {
    if (text.empty()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80U) return 1;
    std::size_t n = 0;
    unsigned lo = 0x80U, hi = 0xBFU; // the range of the second byte
    if (lead >= 0xC2U && lead <= 0xDFU) {
        n = 2;
    } else if (lead >= 0xE0U && lead <= 0xEFU) {
        n = 3;
        if (lead == 0xE0U) lo = 0xA0U; // no overlong forms
        if (lead == 0xEDU) hi = 0x9FU; // no surrogates
    } else if (lead >= 0xF0U && lead <= 0xF4U) {
        n = 4;
        if (lead == 0xF0U) lo = 0x90U;
        if (lead == 0xF4U) hi = 0x8FU; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < n || byte(1) < lo || byte(1) > hi) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if ((byte(i) & 0xC0U) != 0x80U) return 0;
    return n;
}

std::string valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t n = utf8_sequence_length(text);
        out += n == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(0, n);
        text.remove_prefix(n == 0 ? 1 : n);
    }
    return out;
}

std::string printable_text(std::string_view text, bool keep_line_breaks) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t n = utf8_sequence_length(text);
        const auto c = static_cast<unsigned char>(text.front());
        const bool control = n == 1 && (c < 0x20U || c == 0x7FU) && !(keep_line_breaks && c == '\n');
        // C1 controls (U+0080 to U+009F) act on terminals too.
        const bool c1 = n == 2 && c == 0xC2U && static_cast<unsigned char>(text[1]) < 0xA0U;
        if (n == 0 || control || c1) {
            for (std::size_t i = 0; i < std::max<std::size_t>(n, 1); ++i)
                out += format_bounded(8, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(text[i])));
        } else {
            out += text.substr(0, n);
        }
        text.remove_prefix(std::max<std::size_t>(n, 1));
    }
    return out;
}

} // namespace serflash::detect
