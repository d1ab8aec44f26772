#include "report/text_file.h"

namespace serflash::report {

std::optional<std::string> read_candidates_text(platform::file_system& fs, const std::string& path,
                                                std::string& error) {
    auto in = fs.open_read(path);
    if (!in) {
        error = path + ": cannot be opened (" + in.reason() + ")";
        return std::nullopt;
    }
    const std::string too_large =
        path + ": larger than " + std::to_string(max_candidates_file >> 20) + " MiB, not a candidates file";
    std::string text;
    if (in->size() > static_cast<std::int64_t>(max_candidates_file)) {
        error = too_large;
        return std::nullopt;
    }
    char buf[65536];
    for (std::size_t got; (got = in->read(buf, sizeof buf)) > 0;) {
        text.append(buf, got);
        if (text.size() > max_candidates_file) {
            error = too_large;
            return std::nullopt;
        }
    }
    return text;
}

} // namespace serflash::report
