#pragma once
// Per-pixel work of the fast scanner: packet sums with the three largest samples of every
// pixel, the statistics maps, masks as square dilations, the star finder and the test of whole
// frames. Every floating-point result is computed with exactly the operations, in exactly the
// order, of the straightforward scan, so that each comparison comes out the same.
#include "detect/big_buffer.h"
#include "detect/rules.h"
#include "detect/scan_settings.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace serflash::detect::fast {

// Packets longer than this cannot use the 32-bit sums and the 16-bit frame numbers of the
// accumulator; their frames are tested a second time instead.
inline constexpr std::int32_t longest_tracked_packet = 65536;

struct frame_geometry {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool eight_bit = false; // samples are single bytes, else 16-bit samples already shifted
    std::size_t pixels() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
    std::size_t frame_bytes() const { return pixels() * (eight_bit ? 1U : 2U); }
    // The inner area examined by the detector: rows and columns [margin, size - margin).
    bool has_inner() const { return width > 2 * inner_margin && height > 2 * inner_margin; }
};

// A pixel of one frame that passes the detection test at the lowest threshold any pass uses.
// The main test is monotone in the threshold, so it holds at T exactly when T <= top_threshold.
struct candidate {
    std::int32_t row = 0;
    std::int32_t col = 0;
    std::int32_t top_threshold = 0; // the largest threshold at which the test holds
    double mean = 0.0;
    double sigma = 0.0;
    std::uint16_t sample = 0;
    bool sigma_zero = false; // its test holds at every threshold
};

// An inner pixel of a packet whose largest sample passes the main test at the lowest threshold
// against the packet's unmasked maps: its four largest samples (largest first), the frames of
// the first three within the packet, and the left, right, upper and lower neighbours in the
// frame of the largest. Masks only exclude pixels, so every pixel that can hold a candidate is
// one of these.
struct pixel_peaks {
    std::uint32_t index = 0; // row x width + column
    std::uint16_t sample[4] = {};
    std::uint16_t frame[3] = {};
    std::uint16_t neighbour[4] = {};
};

// The summing kernels: the widest this processor runs (the scan's), 256-bit vectors, and
// portable code. All give the same sums.
enum class summing_kernel { widest, vectors_256, portable };
// The distinct kernels this processor runs, widest first (for tests and the benchmark).
std::vector<summing_kernel> kernels_here();
// The instruction set kernel k runs on this processor: "avx512", "avx2" or "portable".
const char* kernel_isa(summing_kernel k);

// Per-pixel accumulation over the frames of one packet for one band of rows: exact integer sums
// of the samples and of their squares, and for the inner area the largest sample with its frame
// and its four neighbours, the second and third largest with their frames, and the fourth
// largest. A band's state is small enough to stay in a core's cache while the packet's frames go
// by; the band is then finished into the statistics maps and the pixels worth a closer look.
class band_accumulator {
public:
    explicit band_accumulator(summing_kernel kernel = summing_kernel::widest) : kernel_(kernel) {}
    band_accumulator(const band_accumulator&) = delete;
    band_accumulator& operator=(const band_accumulator&) = delete;
    void use_kernel(summing_kernel kernel) { kernel_ = kernel; }

    // Sizes the state for the rows [row_begin, row_end) of frames of geometry g; the first frames
    // added (first_index 0) start it afresh.
    void start(const frame_geometry& g, std::int32_t row_begin, std::int32_t row_end);
    // Adds `count` consecutive frames whose first has number `first_index` within the packet.
    // `frames` holds the rows [first_row, first_row + rows) of each frame (file bytes, 16-bit
    // samples shifted), one frame after the other; the band's rows with the rows above and below
    // them must lie in them.
    void add(const std::uint8_t* frames, std::int32_t count, std::int32_t first_index, std::int32_t first_row,
             std::int32_t rows);
    // mean = S / n; var = (Q - (n x mean) x mean) / d; sigma = sqrt(var) for the band's rows, into
    // the maps; the band's inner pixels whose largest sample passes against them are appended to
    // `peaks` in scan order.
    void finish(std::int32_t packet_size, double* mean_map, double* sigma_map, std::vector<pixel_peaks>& peaks) const;

    // What was gathered at pixel i (of the band's rows) so far.
    pixel_peaks peaks_at(std::size_t i) const;

private:
    std::size_t local(std::size_t i) const { return i - static_cast<std::size_t>(row_begin_) * width(); }
    std::size_t width() const { return static_cast<std::size_t>(geom_.width); }

    summing_kernel kernel_;
    frame_geometry geom_;
    std::int32_t row_begin_ = 0;
    std::int32_t row_end_ = 0;
    // All arrays live in one block, reused from band to band.
    big_vector<std::uint32_t> arena_;
    std::uint32_t *sum_ = nullptr, *sq_lo_ = nullptr, *sq_hi_ = nullptr; // Q = sq_hi x 65536 + sq_lo
    std::uint16_t* max_[4] = {};
    std::uint16_t* frame_[3] = {};
    std::uint16_t* neighbours_[4] = {};
};

// The limits (sample_limit) of the inner rows [row_begin, row_end) at the lowest threshold.
void compute_limits(const frame_geometry& g, const double* mean_map, const double* sigma_map, std::uint16_t* limits,
                    std::int32_t row_begin, std::int32_t row_end);

// The full test of pixel i with sample s and neighbour samples (left, right, up, down); fills
// `out` and returns true when the pixel is a candidate.
bool make_candidate(const frame_geometry& g, const scan_settings& cfg, const double* mean_map, const double* sigma_map,
                    std::size_t i, std::uint16_t s, const std::uint16_t nb[4], candidate& out);

// Tests every inner pixel of one frame (raw file bytes) and appends its candidates in scan
// order.
void test_frame(const frame_geometry& g, const scan_settings& cfg, const std::uint8_t* frame, const double* mean_map,
                const double* sigma_map, const std::uint16_t* limits, std::vector<candidate>& out);

// Writes the mask value around every marked pixel: a square of half size `half`, clipped at the
// image edge. Marks are one byte per pixel.
void dilate_marks(const frame_geometry& g, const std::uint8_t* marks, std::int32_t half, double* sigma_map);

// The star test on the inner rows [row_begin, row_end): star_row[j x W + c] := 1 or 0.
void find_stars(const frame_geometry& g, const scan_settings& cfg, const double* mean_map, std::int32_t* star_map,
                std::int32_t row_begin, std::int32_t row_end);
// The star test of one pixel, with ring pixels outside the image left out.
int star_at(const frame_geometry& g, const scan_settings& cfg, const double* mean_map, std::int32_t row,
            std::int32_t col);

// Largest threshold (>= lowest_threshold) at which sample x 10 > T x sigma + mean x 10 holds.
std::int32_t top_threshold(std::uint16_t s, double mean, double sigma);

} // namespace serflash::detect::fast
