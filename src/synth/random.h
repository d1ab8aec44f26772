#pragma once
// Deterministic random numbers for the made-up files: the same seed gives the same numbers on
// every machine and with every compiler.
#include <bit>
#include <cmath>
#include <cstdint>

namespace serflash::synth {

inline std::uint64_t splitmix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// xoshiro256**: small, fast and the same on every machine.
class random_source {
public:
    explicit random_source(std::uint64_t seed) {
        for (auto& s : state_) s = splitmix64(seed);
    }
    std::uint64_t next() {
        const std::uint64_t result = std::rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = std::rotl(state_[3], 45);
        return result;
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Uniform in (0, 1), safe for a logarithm.
    double uniform_open() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
    std::int32_t below(std::int32_t n) { return static_cast<std::int32_t>(uniform() * static_cast<double>(n)); }

private:
    std::uint64_t state_[4]{};
};

// Standard normal numbers by the ziggurat method (128 layers): one table look-up and one
// multiplication for nearly every number, which keeps a 1000-frame file fast to make.
class normal_source {
public:
    normal_source() {
        const double m1 = 2147483648.0;
        const double v = 9.91256303526217e-3; // area of each layer
        double d = tail_start;
        double t = d;
        const double q = v / std::exp(-0.5 * d * d);
        limit_[0] = static_cast<std::uint32_t>(d / q * m1);
        limit_[1] = 0;
        width_[0] = q / m1;
        width_[127] = d / m1;
        height_[0] = 1.0;
        height_[127] = std::exp(-0.5 * d * d);
        for (int i = 126; i >= 1; --i) {
            d = std::sqrt(-2.0 * std::log(v / d + std::exp(-0.5 * d * d)));
            limit_[i + 1] = static_cast<std::uint32_t>(d / t * m1);
            t = d;
            height_[i] = std::exp(-0.5 * d * d);
            width_[i] = d / m1;
        }
    }

    double draw(random_source& rng) const {
        for (;;) {
            const auto bits = static_cast<std::uint32_t>(rng.next() >> 32);
            const auto hz = static_cast<std::int32_t>(bits);
            const std::uint32_t layer = bits & 127u;
            const std::uint32_t magnitude = hz < 0 ? 0u - bits : bits;
            const double x = hz * width_[layer];
            if (magnitude < limit_[layer]) return x;
            if (layer == 0) {
                double xt = 0;
                double y = 0;
                do {
                    xt = -std::log(rng.uniform_open()) / tail_start;
                    y = -std::log(rng.uniform_open());
                } while (y + y < xt * xt);
                return hz > 0 ? tail_start + xt : -tail_start - xt;
            }
            if (height_[layer] + rng.uniform() * (height_[layer - 1] - height_[layer]) < std::exp(-0.5 * x * x))
                return x;
        }
    }

private:
    static constexpr double tail_start = 3.442619855899;
    std::uint32_t limit_[128]{};
    double width_[128]{};
    double height_[128]{};
};

} // namespace serflash::synth
