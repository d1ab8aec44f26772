#include "cli/synth_brightness.h"

#include "synth/star_video.h"

#include <CLI/CLI.hpp>

#include <cmath>

namespace serflash::cli {

void add_synth_brightness_options(CLI::App* cmd, synth_brightness& b) {
    b.star = cmd->add_option("--star-magnitude", b.star_magnitude,
                             "Write a star video for `serflash calibrate` instead: one still star of this magnitude "
                             "at the centre of every frame, on the sky and noise asked for, drawn with the flash "
                             "spot width (--flash-size); no other stars, hot pixels, regions or flashes. Needs "
                             "--zero-point");
    b.flash = cmd->add_option("--flash-magnitude", b.flash_magnitude,
                              "Give every --flash the brightness of this magnitude (its AMPLITUDE is then left "
                              "out). Needs --zero-point");
    b.zero = cmd->add_option("--zero-point", b.zero_point,
                             "Magnitude of a source that gives one count per second (all of its spot), for "
                             "--star-magnitude and --flash-magnitude");
    b.exposure = cmd->add_option("--exposure-ms", b.exposure_ms,
                                 "Exposure of each frame for the magnitudes (default: the frame interval, 1000 / "
                                 "--fps)");
}

std::string apply_synth_brightness(const synth_brightness& b, synth::params& p) {
    const bool star = b.star->count() > 0, flash = b.flash->count() > 0;
    if (!star && !flash) {
        if (b.zero->count() > 0 || b.exposure->count() > 0)
            return "--zero-point and --exposure-ms serve --star-magnitude and --flash-magnitude only";
        return {};
    }
    if (b.zero->count() == 0) return "--star-magnitude and --flash-magnitude need --zero-point";
    if (star && flash) return "--star-magnitude writes a star video, which has no flashes: give one of the two";
    const double magnitude = star ? b.star_magnitude : b.flash_magnitude;
    if (!std::isfinite(magnitude) || magnitude < -30.0 || magnitude > 50.0) return "the magnitude must lie in -30..50";
    if (flash && p.flashes.empty()) return "--flash-magnitude needs at least one --flash";
    const synth::photometric_scale scale{b.zero_point, b.exposure->count() > 0 ? b.exposure_ms / 1000.0 : 1.0 / p.fps};
    if (star)
        p = synth::star_video_params(p, scale, magnitude);
    else
        synth::set_flash_magnitudes(p, scale, magnitude);
    return synth::check_brightness(p, scale);
}

} // namespace serflash::cli
