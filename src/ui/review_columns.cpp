#include "ui/review_columns.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace serflash::ui {
namespace {

std::string fixed1(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// A measured value with `decimals` decimals ('g' for significant digits), empty when unknown.
std::string measured(double v, int decimals, char style = 'f') {
    if (!std::isfinite(v)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, style == 'g' ? "%.*g" : "%.*f", decimals, v);
    return buf;
}

// Unknown values sort after every known one.
sort_key measured_key(double v) { return sort_key(std::isfinite(v) ? v : std::numeric_limits<double>::max()); }

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
    {"class", "Class",
     "What the candidate looks like: flash, star, moving, cosmic_ray, hot_pixel, edge or scattered. Sorted, flashes "
     "come first (least likely from noise first), then the other classes in groups",
     false, [](const candidate& c) { return c.cls; },
     [](const candidate& c) { return sort_key(static_cast<double>(c.rank)); }},
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
    {"noise", "Noise expected",
     "How many candidates at least this significant noise alone would give in the part of the file examined", true,
     [](const candidate& c) { return measured(c.noise_expected, 3, 'g'); },
     [](const candidate& c) { return measured_key(c.noise_expected); }},
    {"lat", "Lat", "Selenographic latitude in degrees (north positive)", true,
     [](const candidate& c) { return measured(c.lat, 2); }, [](const candidate& c) { return measured_key(c.lat); }},
    {"lon", "Lon", "Selenographic longitude in degrees (east positive)", true,
     [](const candidate& c) { return measured(c.lon, 2); }, [](const candidate& c) { return measured_key(c.lon); }},
    {"lat_lon_err", "+- deg", "Uncertainty of the place on the Moon, in degrees of arc", true,
     [](const candidate& c) { return measured(c.lat_lon_err, 2); },
     [](const candidate& c) { return measured_key(c.lat_lon_err); }},
    {"peak_mag", "Peak mag", "Magnitude of the peak frame in the zero point's band, with its error", true,
     [](const candidate& c) {
         const std::string m = measured(c.peak_mag, 2), e = measured(c.peak_mag_err, 2);
         return e.empty() || m.empty() ? m : m + " +- " + e;
     },
     [](const candidate& c) { return measured_key(c.peak_mag); }},
    {"energy", "Energy (J)", "Luminous energy of the flash in joules", true,
     [](const candidate& c) { return measured(c.energy_j, 3, 'g'); },
     [](const candidate& c) { return measured_key(c.energy_j); }},
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
