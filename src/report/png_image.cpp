#include "report/png_image.h"

#include <png.h>

namespace serflash::report {

std::vector<std::uint8_t> encode_png(const image8& image, std::string* error, bool fast) {
    const auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return std::vector<std::uint8_t>{};
    };
    if (image.width <= 0 || image.height <= 0 || (image.channels != 1 && image.channels != 3))
        return fail("the image has no pixels or an unknown layout");
    const std::size_t stride = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    if (image.pixels.size() != stride * static_cast<std::size_t>(image.height))
        return fail("the pixel buffer does not match the image size");

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = image.channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    if (fast) png.flags |= PNG_IMAGE_FLAG_FAST;
    // One compression into a buffer of the largest size a PNG of the image can take.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png);
    const auto row_stride = static_cast<png_int_32>(stride);
    std::vector<std::uint8_t> bytes(size);
    if (png_image_write_to_memory(&png, bytes.data(), &size, 0, image.pixels.data(), row_stride, nullptr) == 0) {
        const std::string why = png.message;
        png_image_free(&png);
        return fail(why);
    }
    bytes.resize(size);
    return bytes;
}

} // namespace serflash::report
