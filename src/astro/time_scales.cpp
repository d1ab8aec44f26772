#include "astro/time_scales.h"

#include <erfa.h>
#include <erfam.h>

#include <stdexcept>

namespace serflash::astro {
namespace {

constexpr std::int64_t ticks_per_day = 86'400 * ticks_per_second;
constexpr std::int64_t days_to_1970 = 719'162; // 0001-01-01 to 1970-01-01

struct civil {
    int year, month, day, hour, minute;
    double second;
};

// The proleptic Gregorian calendar of a day count since 1970-01-01 (H. Hinnant's algorithm).
civil civil_of(std::int64_t utc_ticks) {
    const std::int64_t days = utc_ticks / ticks_per_day - days_to_1970;
    const std::int64_t in_day = utc_ticks % ticks_per_day;
    const std::int64_t z = days + 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    const std::int64_t minutes = in_day / (60 * ticks_per_second);
    return {static_cast<int>(y),
            static_cast<int>(m),
            static_cast<int>(d),
            static_cast<int>(minutes / 60),
            static_cast<int>(minutes % 60),
            static_cast<double>(in_day % (60 * ticks_per_second)) / static_cast<double>(ticks_per_second)};
}

std::int64_t ticks_of_year(std::int64_t year) {
    // Days from 0001-01-01 to January 1st of year (proleptic Gregorian).
    const std::int64_t y = year - 1;
    return (365 * y + y / 4 - y / 100 + y / 400) * ticks_per_day;
}

} // namespace

bool in_ephemeris_range(std::int64_t utc_ticks) {
    return utc_ticks >= ticks_of_year(1900) && utc_ticks < ticks_of_year(2100);
}

double delta_t_polynomial(double y) {
    // Espenak and Meeus, "Five Millennium Canon of Solar Eclipses" (2006), the 20th century terms.
    if (y < 1920) {
        const double t = y - 1900;
        return -2.79 + 1.494119 * t - 0.0598939 * t * t + 0.0061966 * t * t * t - 0.000197 * t * t * t * t;
    }
    if (y < 1941) {
        const double t = y - 1920;
        return 21.20 + 0.84493 * t - 0.076100 * t * t + 0.0020936 * t * t * t;
    }
    if (y < 1961) {
        const double t = y - 1950;
        return 29.07 + 0.407 * t - t * t / 233.0 + t * t * t / 2547.0;
    }
    const double t = y - 1975;
    return 45.45 + 1.067 * t - t * t / 260.0 - t * t * t / 718.0;
}

time_scales time_scales_at(std::int64_t utc_ticks) {
    if (!in_ephemeris_range(utc_ticks))
        throw std::domain_error("the Moon's ephemeris serves 1900-01-01 to 2099-12-31 UTC only");
    const civil c = civil_of(utc_ticks);
    time_scales s;
    if (c.year >= 1960) {
        // A status of 1 is the library's "dubious year" (past its table's horizon): no leap
        // second is known there, so the last count stands.
        if (eraDtf2d("UTC", c.year, c.month, c.day, c.hour, c.minute, c.second, &s.utc.day, &s.utc.fraction) < 0)
            throw std::domain_error("the UTC date does not convert");
        julian_date tai;
        eraUtctai(s.utc.day, s.utc.fraction, &tai.day, &tai.fraction);
        eraTaitt(tai.day, tai.fraction, &s.tt.day, &s.tt.fraction);
        eraUtcut1(s.utc.day, s.utc.fraction, 0.0, &s.ut1.day, &s.ut1.fraction);
        eraDat(c.year, c.month, c.day, (c.hour * 3600.0 + c.minute * 60.0 + c.second) / ERFA_DAYSEC, &s.tai_minus_utc);
    } else {
        eraDtf2d("", c.year, c.month, c.day, c.hour, c.minute, c.second, &s.utc.day, &s.utc.fraction);
        s.ut1 = s.utc;
        const double year = 2000.0 + (s.utc.whole() - ERFA_DJ00) / ERFA_DJY;
        s.tt = julian_date{s.ut1.day, s.ut1.fraction + delta_t_polynomial(year) / ERFA_DAYSEC};
    }
    s.delta_t_s = ((s.tt.day - s.ut1.day) + (s.tt.fraction - s.ut1.fraction)) * ERFA_DAYSEC;
    return s;
}

} // namespace serflash::astro
