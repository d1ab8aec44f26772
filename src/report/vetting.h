#pragma once
// What each candidate most likely is, decided from measurements made on the file itself: its
// width against the image's point-spread function, its elongation, the packet mean's excess and
// gradient at its place, whether it moves from frame to frame or comes back at the same pixel.
#include "detect/candidates.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace serflash::report {

enum class candidate_class { flash, star, moving, cosmic_ray, hot_pixel, edge, scattered };
inline constexpr candidate_class candidate_classes[] = {
    candidate_class::flash,     candidate_class::star, candidate_class::moving,   candidate_class::cosmic_ray,
    candidate_class::hot_pixel, candidate_class::edge, candidate_class::scattered};

// "flash", "star", "moving", "cosmic_ray", "hot_pixel", "edge", "scattered".
std::string_view class_name(candidate_class c);
std::optional<candidate_class> class_named(std::string_view name);

// The limits the classes are decided with.
struct vetting_limits {
    // Width (Gaussian sigma, px) assumed for the point-spread function when no star shows it.
    double default_psf_width = 1.0;
    // The packet mean at the place stands this many of the pixel's standard deviations above its
    // surroundings: a source is there (a star, a bright feature).
    double star_excess = 1.5;
    // A source wider than this many PSFs is a feature of the surface (texture, a crater), which
    // the image motion swings by about its own relief: a detection rising more than
    // broad_source_rise times the source's excess (both in the pixel's standard deviations) is
    // not explained by it. Stars measure 0.9 to 1.1 PSFs; on made-up nights the swings of broad
    // features rose at most 2.7 times their excess, flashes on them 3.1 to 6.
    double broad_source = 1.4;
    double broad_source_rise = 3.0;
    // The packet mean falls by this many of the pixel's standard deviations per pixel: a motion of
    // a pixel or less explains the detection.
    double edge_gradient = 1.0;
    // A single-frame candidate narrower than this part of the PSF, or this elongated, is a hit on
    // the sensor.
    double sharp_width = 0.5;
    double track_elongation = 2.0;
    // Detections in frames at most this far apart moving at most this fast (px per frame) and
    // steadily (each step within the tolerance of the one before) form a track.
    std::int32_t track_frame_gap = 5;
    double track_max_speed = 40.0;
    double track_tolerance = 3.0;
    std::int32_t track_min_frames = 3;
    // A candidate seen in at most this many frames and on no track is searched for one: in this
    // many frames before and after its peak, within a window reaching track_max_speed per frame,
    // for a point-like spot at least track_search_sigma of the pixel's standard deviation above
    // its mean (over track_search_background frames each side beyond those searched). Spots on
    // a steady motion through the candidate's place (at least track_search_min_speed px per
    // frame, each within track_search_tolerance px of it) in track_search_min_frames frames
    // besides the candidate's own make it moving. On made-up nights the image motion and the
    // stars put one such spot on some motion around a third of the candidates, two around one
    // in fifty, three hardly ever; a satellite gives three to six.
    std::int32_t track_search_max_frames = 2;
    std::int32_t track_search_reach = 3;
    std::int32_t track_search_background = 12;
    double track_search_sigma = 4.0;
    double track_search_min_speed = 2.5;
    double track_search_tolerance = 1.5;
    std::int32_t track_search_min_frames = 3;
};

struct class_measures {
    double width = std::numeric_limits<double>::quiet_NaN();       // px, from the peak's neighbours
    double psf_width = std::numeric_limits<double>::quiet_NaN();   // px
    bool psf_measured = false;                                     // on the file's stars, or the default
    double elongation = std::numeric_limits<double>::quiet_NaN();  // major over minor axis
    double mean_excess = std::numeric_limits<double>::quiet_NaN(); // in pixel sigmas
    double gradient = std::numeric_limits<double>::quiet_NaN();    // in pixel sigmas per px
};

// The width (Gaussian sigma, px) of a spot whose four neighbours hold `ratio` of its peak.
double width_of_ratio(double ratio);

// A square window of samples (side odd) centred on a place, as doubles.
struct window {
    std::int32_t half = 0;
    std::vector<double> v; // (2 half + 1)^2, NaN outside the frame
    double at(std::int32_t dx, std::int32_t dy) const {
        const std::int32_t side = 2 * half + 1;
        return v[static_cast<std::size_t>((dy + half) * side + dx + half)];
    }
};

// The samples a candidate seen in few frames is searched for a track in: a square window centred
// on its peak's place in each frame from `first_frame` on (the peak frame among them), each as
// its excess over the pixel's mean in the frames around, and the pixel's standard deviation there.
struct track_search_data {
    std::int32_t peak_frame = 0;
    std::int32_t first_frame = 0;
    std::vector<window> excess; // frame by frame from first_frame; NaN outside the frame
    window sigma;
};

// The steady motion found through a candidate's place: the frames with a spot on it besides the
// candidate's own (0 when none was found), its first and last frame, where it was in them and its
// velocity (px per frame).
struct searched_track {
    std::int32_t frames_found = 0;
    std::int32_t first_frame = 0, last_frame = 0;
    double start_x = 0.0, start_y = 0.0, end_x = 0.0, end_y = 0.0;
    double vx = 0.0, vy = 0.0;
};

// Which candidates are searched for a track: those seen in few frames that no track of
// detections holds. The half side of the window searched.
std::vector<char> track_searched(const std::vector<detect::candidate>& candidates, const vetting_limits& limits);
std::int32_t track_search_half(const vetting_limits& limits);

// Searches the data around a candidate whose peak is at (x, y) for a steady motion through it;
// frames_found is 0 when none reaches the limits.
searched_track search_track(const track_search_data& data, std::int32_t x, std::int32_t y,
                            const vetting_limits& limits);

struct observation;
struct measured_candidate;
// The order an observer goes through candidates in: flashes first, the least likely from noise
// first, then each other class in turn (in the order of candidate_classes), each by number.
std::vector<std::size_t> review_order(const std::vector<measured_candidate>& candidates);
// Decides the class of every candidate of the observation; the detections of one track become
// one candidate (numbers are given again in the order of the first frame).
void classify(observation& o);

// The measures of one place: `excess` is the peak frame minus the packet mean, `mean` the packet
// mean, `sigma` the pixel's standard deviation over the packet.
class_measures measure_place(const window& excess, const window& mean, double sigma);
// The width of the source in the packet mean (the PSF when it is a star).
double source_width(const window& mean);
// The pixels of a packet mean (w x h, with each pixel's standard deviation) where a candidate
// would be on a source: its mean_excess at least `star_excess`.
std::vector<bool> source_pixels(const std::vector<double>& mean, const std::vector<double>& sigma, std::int32_t w,
                                std::int32_t h, double star_excess);

} // namespace serflash::report
