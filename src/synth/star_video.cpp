#include "synth/star_video.h"

#include <algorithm>
#include <cmath>

namespace serflash::synth {

double counts_of_magnitude(const photometric_scale& s, double magnitude) {
    return s.exposure_s * std::pow(10.0, -0.4 * (magnitude - s.zero_point));
}

double amplitude_for_counts(double counts, double sigma) {
    // The spot's samples summed out to where they vanish, centred on a pixel.
    const auto reach = static_cast<std::int32_t>(std::ceil(5.0 * sigma)) + 1;
    const double k = -0.5 / (sigma * sigma);
    double sum = 0.0;
    for (std::int32_t y = -reach; y <= reach; ++y)
        for (std::int32_t x = -reach; x <= reach; ++x) sum += std::exp(k * (x * x + y * y));
    return counts / sum;
}

params star_video_params(params base, const photometric_scale& s, double magnitude) {
    params p = std::move(base);
    p.stars = 0;
    p.hot_pixels = 0;
    p.bright_region = false;
    p.dark_region = false;
    p.burst_frame = -1;
    p.flashes = {{p.width / 2, p.height / 2, 0, amplitude_for_counts(counts_of_magnitude(s, magnitude), p.flash_sigma),
                  std::max(p.frames, 1)}};
    return p;
}

void set_flash_magnitudes(params& p, const photometric_scale& s, double magnitude) {
    for (flash_spec& f : p.flashes)
        f.amplitude = amplitude_for_counts(counts_of_magnitude(s, magnitude), p.flash_sigma);
}

std::string check_brightness(const params& p, const photometric_scale& s) {
    if (!std::isfinite(s.zero_point) || s.zero_point < -30.0 || s.zero_point > 50.0)
        return "the zero point must lie in -30..50 magnitudes";
    if (!(s.exposure_s > 0.0 && s.exposure_s <= 3600.0)) return "the exposure must lie above 0 and at most 3600 s";
    const double top = p.depth == 8 ? 255.0 : 65535.0;
    const double sky = p.background + std::fabs(p.gradient);
    for (const flash_spec& f : p.flashes)
        if (!std::isfinite(f.amplitude) || sky + f.amplitude >= top)
            return "a spot of peak " + std::to_string(f.amplitude) + " counts over the sky would saturate (the " +
                   std::to_string(p.depth) + "-bit samples end at " + std::to_string(static_cast<int>(top)) +
                   "): give a fainter magnitude or a larger zero point";
    return {};
}

} // namespace serflash::synth
