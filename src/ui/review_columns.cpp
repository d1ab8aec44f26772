#include "ui/review_columns.h"

#include <cstdio>

namespace serflash::ui {
namespace {

std::string fixed1(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

std::string number_list(const std::vector<std::int32_t>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? " " : "") + std::to_string(values[i]);
    return out;
}

std::string six_digits(std::int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06d", static_cast<int>(v));
    return buf;
}

const review_column columns[] = {
    {"mark", "Mark", "Your verdict: real, false or unsure (keys R, F, U; 0 clears it)", false,
     [](const candidate& c) { return std::string(verdict_text(c.mark)); },
     [](const candidate& c) { return sort_key(std::string(verdict_text(c.mark))); }},
    {"file", "File", "The SER file and the candidate's number in it", false,
     [](const candidate& c) { return c.file + " #" + std::to_string(c.number); },
     [](const candidate& c) { return sort_key(c.file + "/" + six_digits(c.number)); }},
    {"utc", "UTC", "Time of the peak frame", false,
     [](const candidate& c) { return c.utc_peak ? *c.utc_peak : std::string("-"); },
     [](const candidate& c) { return sort_key(c.utc_peak.value_or(std::string())); }},
    {"frame", "Frame", "The peak frame (counted from 0)", true,
     [](const candidate& c) { return std::to_string(c.peak_frame); },
     [](const candidate& c) { return sort_key(static_cast<double>(c.peak_frame)); }},
    {"x", "x", "Column of the flash in the frame", true, [](const candidate& c) { return std::to_string(c.x); },
     [](const candidate& c) { return sort_key(static_cast<double>(c.x)); }},
    {"y", "y", "Row of the flash in the frame", true, [](const candidate& c) { return std::to_string(c.y); },
     [](const candidate& c) { return sort_key(static_cast<double>(c.y)); }},
    {"sigma", "Peak sigma", "The peak's excess over the mean, in standard deviations", true,
     [](const candidate& c) { return fixed1(c.peak_sigma); },
     [](const candidate& c) { return sort_key(c.peak_sigma); }},
    {"duration", "Duration (frames)", "Frames from the first to the last with a detection", true,
     [](const candidate& c) { return std::to_string(c.duration_frames); },
     [](const candidate& c) { return sort_key(static_cast<double>(c.duration_frames)); }},
    {"thresholds", "Thresholds", "The passes' thresholds (tenths of a sigma) that found it", false,
     [](const candidate& c) { return number_list(c.thresholds); },
     [](const candidate& c) { return sort_key(static_cast<double>(c.highest_threshold)); }},
};

} // namespace

std::span<const review_column> review_columns() { return columns; }

int review_column_index(std::string_view id) {
    for (std::size_t i = 0; i < std::size(columns); ++i)
        if (id == columns[i].id) return static_cast<int>(i);
    return -1;
}

} // namespace serflash::ui
