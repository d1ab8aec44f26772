#pragma once
// A candidates table, document or catalogue read whole, with a bound on its size.
#include "platform/file_io.h"

#include <cstddef>
#include <optional>
#include <string>

namespace serflash::report {

// Far more than the candidates of any night; keeps a video given by mistake out of memory.
inline constexpr std::size_t max_candidates_file = std::size_t{256} << 20;

// nullopt with "PATH: cannot be opened (...)" or "PATH: larger than ..." in error.
std::optional<std::string> read_candidates_text(platform::file_system& fs, const std::string& path, std::string& error);

} // namespace serflash::report
