#include "cli/output_file.h"

#include "detect/format.h"
#include "platform/file_io.h"

#include <iostream>

namespace serflash::cli {

int write_output(const std::string& command, const std::string& path, const std::string& text) {
    const platform::status put = platform::write_whole_file(platform::native_file_system(), path, text);
    if (put) return 0;
    std::cerr << "serflash " << command << ": cannot write " << detect::printable_text(path)
              << (put.reason().empty() ? "" : " (" + put.reason() + ")") << "\n";
    return 1;
}

} // namespace serflash::cli
