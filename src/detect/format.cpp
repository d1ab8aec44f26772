#include "detect/format.h"

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

} // namespace serflash::detect
