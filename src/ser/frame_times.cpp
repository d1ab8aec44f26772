#include "ser/frame_times.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <cstdio>
#include <limits>
#include <new>

namespace serflash::ser {
namespace {

constexpr std::int64_t ticks_per_second = 10'000'000;
constexpr std::int64_t ticks_per_day = 86'400 * ticks_per_second;
// The top two bits of a time stamp are flags, not time.
constexpr std::uint64_t time_mask = (std::uint64_t{1} << 62) - 1;
// Days from 0001-01-01 to 1970-01-01.
constexpr std::int64_t days_to_1970 = 719'162;
// An interval longer than this times the median means frames were lost.
constexpr double gap_factor = 1.5;

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = floor_div(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

civil civil_from_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = floor_div(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

std::int64_t sane_first() { return ticks_of(1990, 1, 1, 0, 0, 0); }
std::int64_t sane_end() { return ticks_of(2100, 1, 1, 0, 0, 0); }
bool sane(std::int64_t ticks) { return ticks >= sane_first() && ticks < sane_end(); }

std::string frame_text(std::size_t k) { return "frame " + std::to_string(k); }

// "+2:00", "-5:30", "+0:00:07".
std::string offset_text(std::int64_t ticks) {
    const char sign = ticks < 0 ? '-' : '+';
    const std::int64_t seconds = (ticks < 0 ? -ticks : ticks) / ticks_per_second;
    char buf[48];
    if (seconds % 60 != 0)
        std::snprintf(buf, sizeof buf, "%c%lld:%02lld:%02lld", sign, static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(buf, sizeof buf, "%c%lld:%02lld", sign, static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60));
    return buf;
}

// The median of the intervals, in ticks (the mean of the middle two for an even count).
double median_interval(const std::vector<std::int64_t>& ticks) {
    std::vector<std::int64_t> steps;
    steps.reserve(ticks.size() - 1);
    for (std::size_t k = 1; k < ticks.size(); ++k) steps.push_back(ticks[k] - ticks[k - 1]);
    const std::size_t mid = steps.size() / 2;
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(mid), steps.end());
    const double upper = static_cast<double>(steps[mid]);
    if (steps.size() % 2 != 0) return upper;
    const double lower =
        static_cast<double>(*std::max_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(mid)));
    return (lower + upper) / 2;
}

void measure_rate(frame_times& t) {
    if (t.utc_ticks.size() < 2) return;
    const double median = median_interval(t.utc_ticks);
    if (median <= 0) return; // stamps all alike: no rate, no gaps
    t.frame_interval = median / static_cast<double>(ticks_per_second);
    t.frame_rate = 1.0 / t.frame_interval;
    for (std::size_t k = 1; k < t.utc_ticks.size(); ++k) {
        const auto step = static_cast<double>(t.utc_ticks[k] - t.utc_ticks[k - 1]);
        if (step <= gap_factor * median) continue;
        t.gaps_after.push_back(static_cast<std::int32_t>(k - 1));
        const double lost = std::max(std::round(step / median) - 1.0, 1.0);
        const double room = static_cast<double>(std::numeric_limits<std::int32_t>::max() - t.dropped_frames);
        t.dropped_frames += static_cast<std::int32_t>(std::min(lost, room));
    }
}

// The trailer's stamps, flags masked, or empty with the reason in notes.
std::vector<std::int64_t> read_trailer(ser_reader& reader, std::vector<std::string>& notes) {
    const std::int32_t count = reader.frame_count();
    if (!reader.check_geometry() || count <= 0) {
        notes.push_back("no time stamps: the header gives no usable frame size and count");
        return {};
    }
    if (reader.frames_present() < count) {
        notes.push_back("no time stamps: the file does not hold all " + std::to_string(count) + " frames");
        return {};
    }
    const std::int64_t need = std::int64_t{count} * 8;
    const std::int64_t have = reader.trailing_bytes();
    if (have == 0) {
        notes.push_back("no time stamps after the frames");
        return {};
    }
    if (have < need) {
        notes.push_back("time stamps not used: " + std::to_string(have) + " bytes follow the frames, " +
                        std::to_string(need) + " are needed for " + std::to_string(count) + " time stamps");
        return {};
    }
    std::vector<std::uint8_t> raw;
    std::vector<std::int64_t> ticks;
    try {
        raw.resize(static_cast<std::size_t>(need));
        ticks.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        notes.push_back("time stamps not used: no memory for " + std::to_string(count) + " of them");
        return {};
    }
    const std::int64_t at = header_size + std::int64_t{count} * reader.frame_bytes();
    platform::input_file& file = reader.file();
    const std::size_t got = file.read_at(at, raw.data(), raw.size());
    file.seek(reader.position());
    if (got != raw.size()) {
        notes.push_back("time stamps not used: they cannot be read");
        return {};
    }
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        std::uint64_t v = 0;
        for (int b = 7; b >= 0; --b) v = v << 8 | raw[8 * k + static_cast<std::size_t>(b)];
        ticks[k] = static_cast<std::int64_t>(v & time_mask);
    }
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        if (!sane(ticks[k])) {
            notes.push_back("time stamps not used: the one of " + frame_text(k) + " (" + format_utc(ticks[k]) +
                            ") lies outside the years 1990 to 2100");
            return {};
        }
        if (k > 0 && ticks[k] < ticks[k - 1]) {
            notes.push_back("time stamps not used: the one of " + frame_text(k) + " (" + format_utc(ticks[k]) +
                            ") is earlier than the one of " + frame_text(k - 1) + " (" + format_utc(ticks[k - 1]) +
                            ")");
            return {};
        }
    }
    return ticks;
}

// The header's time-zone offset (Datetime - DatetimeUTC): a whole number of quarter hours, to
// within a few seconds. Capture programs write the two fields one after the other, so equal
// moments may differ by a few milliseconds: that is no offset. Only a header with both times
// sane can tell.
std::optional<std::int64_t> header_zone_offset(const ser_header& h) {
    if (!sane(h.Datetime) || !sane(h.DatetimeUTC)) return std::nullopt;
    constexpr std::int64_t quarter_hour = 15 * 60 * ticks_per_second;
    constexpr std::int64_t slack = 5 * ticks_per_second;
    const std::int64_t difference = h.Datetime - h.DatetimeUTC;
    const std::int64_t quarters =
        (difference + (difference >= 0 ? quarter_hour / 2 : -quarter_hour / 2)) / quarter_hour;
    const std::int64_t offset = quarters * quarter_hour;
    if (quarters == 0 || std::llabs(difference - offset) > slack) return std::nullopt;
    return offset;
}

// True when the stamps are in local time: the first lies nearer the header's local start than
// its UTC start, and the two differ by a time-zone offset.
bool holds_local_time(const ser_header& h, std::int64_t first) {
    if (!header_zone_offset(h)) return false;
    const auto distance = [](std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; };
    return distance(first, h.Datetime) < distance(first, h.DatetimeUTC);
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
            break;
    }
    return "none";
}

std::optional<std::int64_t> frame_times::utc_of(std::int32_t frame) const {
    if (frame < 0 || static_cast<std::size_t>(frame) >= utc_ticks.size()) return std::nullopt;
    return utc_ticks[static_cast<std::size_t>(frame)];
}

frame_times read_frame_times(ser_reader& reader, double fps) {
    frame_times t;
    const ser_header& h = reader.header();
    std::vector<std::int64_t> stamps = read_trailer(reader, t.notes);
    if (!stamps.empty()) {
        t.source = time_source::trailer;
        if (holds_local_time(h, stamps.front())) {
            const std::int64_t offset = *header_zone_offset(h);
            for (std::int64_t& s : stamps) s -= offset;
            t.source = time_source::trailer_local;
            t.notes.push_back(
                "the time stamps hold local time (they match the header's Datetime, not its "
                "Datetime UTC); converted to UTC with the header's offset of " +
                offset_text(offset));
        }
        t.utc_ticks = std::move(stamps);
        measure_rate(t);
        return t;
    }
    if (!(fps > 0) || !std::isfinite(fps)) return t;
    if (h.DatetimeUTC <= 0) {
        t.notes.push_back("no estimate from the frame rate: the header's Datetime UTC is not set");
        return t;
    }
    const std::int32_t frames = reader.frames_present();
    const double per_frame = static_cast<double>(ticks_per_second) / fps;
    const double last = static_cast<double>(h.DatetimeUTC) + per_frame * std::max(frames - 1, 0);
    if (last >= static_cast<double>(std::numeric_limits<std::int64_t>::max() >> 2)) {
        t.notes.push_back("no estimate from the frame rate: the times would run past any calendar");
        return t;
    }
    t.source = time_source::header_fps;
    t.utc_ticks.resize(static_cast<std::size_t>(frames));
    for (std::int32_t k = 0; k < frames; ++k)
        t.utc_ticks[static_cast<std::size_t>(k)] = h.DatetimeUTC + std::llround(per_frame * k);
    t.frame_interval = 1.0 / fps;
    t.frame_rate = fps;
    t.notes.push_back("frame times estimated from the header's Datetime UTC and " + std::to_string(fps) +
                      " frames per second");
    return t;
}

std::string format_utc(std::int64_t ticks) {
    const std::int64_t days = floor_div(ticks, ticks_per_day);
    const std::int64_t in_day = ticks - days * ticks_per_day;
    const civil c = civil_from_days(days - days_to_1970);
    // ISO 8601 has four digits for the year.
    if (c.year < 1 || c.year > 9999) return "invalid time (year " + std::to_string(c.year) + ", outside 0001 to 9999)";
    const std::int64_t ms = in_day / 10'000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(c.year),
                  c.month, c.day, static_cast<long long>(ms / 3'600'000), static_cast<long long>(ms / 60'000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

std::int64_t ticks_of(int year, int month, int day, int hour, int minute, double second) {
    const std::int64_t days =
        days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + days_to_1970;
    return days * ticks_per_day + (std::int64_t{hour} * 3600 + std::int64_t{minute} * 60) * ticks_per_second +
           std::llround(second * static_cast<double>(ticks_per_second));
}

} // namespace serflash::ser
