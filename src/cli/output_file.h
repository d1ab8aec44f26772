#pragma once
// Writing a command's --out file: the whole text into a temporary file beside it, renamed over
// any earlier one only when complete, and a failure named on stderr.
#include <string>

namespace serflash::cli {

// 0 when `path` now holds `text`; otherwise says "serflash COMMAND: cannot write PATH (why)"
// on stderr and returns 1, the exit status for an output that cannot be written.
int write_output(const std::string& command, const std::string& path, const std::string& text);

} // namespace serflash::cli
