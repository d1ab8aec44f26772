#include "cli/zero_point_option.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

namespace serflash::cli {

std::optional<photometry::zero_point> zero_point_from_option(const std::string& text, const std::string& command,
                                                             bool& bad) {
    bad = false;
    if (text.empty()) return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc{} && end == text.data() + text.size()) {
        if (!std::isfinite(value) || value < -30.0 || value > 50.0) {
            std::cerr << "serflash " << command << ": --zero-point " << text << " must lie in -30..50 magnitudes\n";
            bad = true;
            return std::nullopt;
        }
        photometry::zero_point z;
        z.magnitude = value;
        z.source = "value";
        return z;
    }
    std::ifstream in(text, std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf())) {
        std::cerr << "serflash " << command << ": --zero-point " << text
                  << " is neither a number nor a readable zero-point file\n";
        bad = true;
        return std::nullopt;
    }
    std::string error;
    auto z = photometry::parse_zero_point_json(content.str(), error);
    if (!z) {
        std::cerr << "serflash " << command << ": --zero-point " << text << ": " << error << "\n";
        bad = true;
    }
    return z;
}

} // namespace serflash::cli
