// Frame reading speed: read_frame against a bare copy of the same bytes from the same in-memory
// file, measured in the same run. Prints the ratios; 1.0 would mean conversion costs nothing.
#include "ser/ser_reader.h"
#include "synth/synth.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace serflash;

template <typename F>
double best_seconds(int rounds, F&& body) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        best = std::min(best, dt.count());
    }
    return best;
}

void run(std::int32_t depth, std::int32_t shift) {
    synth::params p = synth::default_params(depth);
    p.width = 1920;
    p.height = 1080;
    p.frames = 24;
    p.stars = 0;
    p.hot_pixels = 0;
    const std::vector<std::uint8_t> bytes = synth::make_ser_bytes(p);

    auto raw = platform::make_memory_input(bytes);
    const std::size_t frame_bytes = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) *
                                    static_cast<std::size_t>(ser::bytes_per_sample(depth));
    std::vector<std::uint8_t> sink(frame_bytes);
    const double base = best_seconds(7, [&] {
        raw->seek(ser::header_size);
        for (int k = 0; k < p.frames; ++k) raw->read(sink.data(), frame_bytes);
    });

    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    reader.set_bit_shift(shift);
    std::vector<std::uint16_t> frame(reader.samples_per_frame());
    const double timed = best_seconds(7, [&] {
        reader.seek_frame(0);
        for (int k = 0; k < p.frames; ++k) reader.read_frame(frame);
    });
    std::printf("depth %2d, shift %d: read_frame / bare copy = %.2f  (%.2f ms per 1920x1080 frame)\n", depth, shift,
                timed / base, 1e3 * timed / p.frames);
}

} // namespace

int main() {
    run(16, 0);
    run(16, 4);
    run(8, 0);
    return 0;
}
