#include "cli/option_checks.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>

namespace serflash::cli {

CLI::Validator number_in(double lo, double hi, const std::string& range_text, bool lo_open) {
    return CLI::Validator(
        [=](std::string& value) -> std::string {
            if (value.empty()) return "an empty value is not allowed";
            double v = 0.0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
            const bool number = ec == std::errc{} && end == value.data() + value.size() && std::isfinite(v);
            if (number && (lo_open ? v > lo : v >= lo) && v <= hi) return {};
            return "\"" + value + "\" is not a number " + range_text;
        },
        "NUMBER " + range_text, "NUMBER_IN");
}

CLI::Validator whole_in(std::int64_t lo, std::int64_t hi) {
    const std::string range_text = "from " + std::to_string(lo) + " to " + std::to_string(hi);
    return CLI::Validator(
        [=](std::string& value) -> std::string {
            if (value.empty()) return "an empty value is not allowed";
            std::int64_t v = 0;
            const char* first = value.data() + (value.front() == '+' ? 1 : 0);
            const auto [end, ec] = std::from_chars(first, value.data() + value.size(), v);
            if (ec == std::errc{} && end == value.data() + value.size() && v >= lo && v <= hi) return {};
            return "\"" + value + "\" is not a whole number " + range_text;
        },
        "INT " + range_text, "WHOLE_IN");
}

CLI::Validator frame_rate_check() { return number_in(0.0, 1e6, "above 0 and at most 1000000", true); }

CLI::Validator whole_64_bits() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (value.empty()) return "an empty value is not allowed";
            std::uint64_t v = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
            if (ec == std::errc{} && end == value.data() + value.size()) return {};
            return "\"" + value + "\" is not a whole number from 0 to 18446744073709551615";
        },
        "0 to 2^64-1", "WHOLE_64");
}

} // namespace serflash::cli
