#pragma once
// The time scales an ephemeris needs, from a UTC instant counted as the SER time stamps count it.
#include <cstdint>

namespace serflash::astro {

// 100-ns ticks since 0001-01-01 00:00 UTC.
inline constexpr std::int64_t ticks_per_second = 10'000'000;

// A Julian date in two parts (the day number and the fraction), as the time-scale library keeps
// them so that no precision is lost.
struct julian_date {
    double day = 0.0, fraction = 0.0;
    double whole() const { return day + fraction; }
};

struct time_scales {
    julian_date utc, tt, ut1;
    double delta_t_s = 0.0;     // TT - UT1
    double tai_minus_utc = 0.0; // the leap seconds in force (0 before 1960)
};

// The instants the ephemeris serves: 1900-01-01 to 2100-01-01 UTC. Before 1960 there is no UTC
// and no leap second, so UT1 is taken as the time given and Delta T from its polynomial.
bool in_ephemeris_range(std::int64_t utc_ticks);

// TT from the leap-second table (TT = UTC + (TAI - UTC) + 32.184 s) and UT1 = UTC, which is held
// within 0.9 s of it. Throws std::domain_error outside in_ephemeris_range.
time_scales time_scales_at(std::int64_t utc_ticks);

// Delta T (TT - UT1, seconds) by the polynomials of Espenak and Meeus (2006), for the years
// before the leap-second table.
double delta_t_polynomial(double decimal_year);

} // namespace serflash::astro
