#pragma once
// PNG files of 8-bit grey or RGB pixel buffers, in memory (for embedding or writing out).
#include <cstdint>
#include <string>
#include <vector>

namespace serflash::report {

struct image8 {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int channels = 1;                 // 1: grey, 3: red, green, blue
    std::vector<std::uint8_t> pixels; // rows top first, width x channels bytes each
};

// The PNG bytes of the image; empty when the image is not well formed or cannot be encoded
// (error, when given, says why).
// `fast` trades some size for speed (no row filters, light compression), for large frames.
std::vector<std::uint8_t> encode_png(const image8& image, std::string* error = nullptr, bool fast = false);

} // namespace serflash::report
