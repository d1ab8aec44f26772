#include "ser/frame_times.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace serflash::ser {
namespace {

constexpr std::int64_t ticks_per_second = 10'000'000;
constexpr std::int64_t ticks_per_day = ticks_per_second * 86'400;
constexpr std::int64_t flag_mask = (std::int64_t{1} << 62) - 1;
// Days from 0001-01-01 to 1970-01-01.
constexpr std::int64_t days_to_unix_epoch = 719'162;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, std::int64_t m, std::int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + doe - 719'468;
}

void civil_from_days(std::int64_t z, std::int64_t& y, std::int64_t& m, std::int64_t& d) {
    z += 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

void measure_intervals(frame_times& t) {
    if (t.utc_ticks.size() < 2) return;
    std::vector<std::int64_t> steps;
    for (std::size_t i = 1; i < t.utc_ticks.size(); ++i) steps.push_back(t.utc_ticks[i] - t.utc_ticks[i - 1]);
    std::vector<std::int64_t> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const std::int64_t median = sorted[sorted.size() / 2];
    if (median <= 0) return;
    t.frame_interval = static_cast<double>(median) / static_cast<double>(ticks_per_second);
    t.frame_rate = 1.0 / t.frame_interval;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (static_cast<double>(steps[i]) > 1.5 * static_cast<double>(median)) {
            t.gaps_after.push_back(static_cast<std::int32_t>(i));
            t.dropped_frames += static_cast<std::int32_t>(
                std::llround(static_cast<double>(steps[i]) / static_cast<double>(median)) - 1);
        }
    }
}

} // namespace

const char* time_source_name(time_source source) {
    switch (source) {
        case time_source::trailer:
            return "trailer";
        case time_source::trailer_local:
            return "trailer-local";
        case time_source::header_fps:
            return "header+fps";
        case time_source::none:
            return "none";
    }
    return "none";
}

std::optional<std::int64_t> frame_times::utc_of(std::int32_t frame) const {
    if (frame < 0 || static_cast<std::size_t>(frame) >= utc_ticks.size()) return std::nullopt;
    return utc_ticks[static_cast<std::size_t>(frame)];
}

frame_times read_frame_times(ser_reader& reader, double fps) {
    frame_times t;
    const std::int32_t frames = reader.frames_present();
    const std::int32_t declared = reader.frame_count();
    if (frames > 0 && frames == declared && reader.trailing_bytes() == std::int64_t{8} * declared) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(8 * declared));
        const std::int64_t at = header_size + std::int64_t{declared} * reader.frame_bytes();
        if (reader.file().read_at(at, bytes.data(), bytes.size()) == bytes.size()) {
            for (std::int32_t f = 0; f < declared; ++f) {
                std::uint64_t u = 0;
                for (int b = 7; b >= 0; --b) u = u << 8 | bytes[static_cast<std::size_t>(8 * f + b)];
                t.utc_ticks.push_back(static_cast<std::int64_t>(u) & flag_mask);
            }
            t.source = time_source::trailer;
            measure_intervals(t);
            return t;
        }
        t.notes.push_back("the time stamps after the last frame could not be read");
    }
    if (fps > 0.0 && reader.header().DatetimeUTC > 0 && frames > 0) {
        const double step = static_cast<double>(ticks_per_second) / fps;
        for (std::int32_t f = 0; f < frames; ++f)
            t.utc_ticks.push_back(reader.header().DatetimeUTC + std::llround(step * f));
        t.source = time_source::header_fps;
        t.frame_interval = 1.0 / fps;
        t.frame_rate = fps;
    }
    return t;
}

std::string format_utc(std::int64_t ticks) {
    const std::int64_t day = ticks >= 0 ? ticks / ticks_per_day : (ticks - ticks_per_day + 1) / ticks_per_day;
    const std::int64_t in_day = ticks - day * ticks_per_day;
    std::int64_t y = 0, m = 0, d = 0;
    civil_from_days(day - days_to_unix_epoch, y, m, d);
    const std::int64_t ms = in_day / 10'000;
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(ms / 3'600'000),
                  static_cast<long long>(ms / 60'000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::int64_t ticks_of(int year, int month, int day, int hour, int minute, double second) {
    const std::int64_t days = days_from_civil(year, month, day) + days_to_unix_epoch;
    return days * ticks_per_day + (std::int64_t{hour} * 3600 + std::int64_t{minute} * 60) * ticks_per_second +
           std::llround(second * static_cast<double>(ticks_per_second));
}

} // namespace serflash::ser
