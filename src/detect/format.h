#pragma once
// Bounded text formatting, as the program's fixed character buffers cut their texts.
#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace serflash::detect {

// Formats into a bounded buffer of `capacity` bytes (the result has at most capacity - 1
// characters), like snprintf into a fixed character array.
std::string format_bounded(std::size_t capacity, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string vformat_bounded(std::size_t capacity, const char* format, std::va_list args);

// The texts with the separator between them.
std::string join_texts(const std::vector<std::string>& texts, const std::string& separator);

// Cuts text to at most n bytes without splitting a UTF-8 sequence.
std::string cut_utf8(const std::string& text, std::size_t n);

// Length of the valid UTF-8 sequence at the start of text (1 to 4), or 0 when it is none.
std::size_t utf8_sequence_length(std::string_view text);
// The text with each byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string valid_utf8(std::string_view text);
// The text as a terminal may show it: control characters (escape, bell, line breaks ...) and
// bytes that are not UTF-8 written as \xNN; nothing in it can move the cursor or
// change the terminal. keep_line_breaks leaves LF as it is, for messages of several lines.
std::string printable_text(std::string_view text, bool keep_line_breaks = false);

} // namespace serflash::detect
