#pragma once
// Bounded text formatting, as the program's fixed character buffers cut their texts.
#include <cstdarg>
#include <cstddef>
#include <string>
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

} // namespace serflash::detect
