#include "synth/moon_albedo.h"

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <numbers>

namespace serflash::synth {
namespace {

constexpr double deg = std::numbers::pi / 180.0;

// The broad maria of the near side (centre latitude, longitude, radius in degrees).
struct mare {
    double lat, lon, radius;
};
constexpr mare maria[] = {{33, -16, 16},  {28, 17, 10}, {8, 31, 11},   {17, 59, 7},  {10, -57, 22},
                          {-21, -17, 10}, {-8, 51, 9},  {-24, -39, 8}, {-13, -27, 7}};

// The made-up surface as a coarse map: maria as dark patches, a few hundred craters as dark
// floors in bright rims, placed by a fixed sequence.
constexpr std::int32_t made_up_width = 720, made_up_height = 360;

std::vector<std::uint8_t> made_up_map() {
    std::vector<double> v(static_cast<std::size_t>(made_up_width) * made_up_height, 1.15);
    const auto lat_of = [](std::int32_t row) { return 90.0 - (row + 0.5) * 180.0 / made_up_height; };
    const auto lon_of = [](std::int32_t col) { return (col + 0.5) * 360.0 / made_up_width - 180.0; };
    for (std::int32_t row = 0; row < made_up_height; ++row)
        for (std::int32_t col = 0; col < made_up_width; ++col)
            for (const mare& m : maria) {
                const double d = astro::arc_between_deg({lat_of(row), lon_of(col)}, {m.lat, m.lon});
                v[static_cast<std::size_t>(row * made_up_width + col)] -=
                    0.45 * std::clamp((m.radius - d) / 3.0, 0.0, 1.0);
            }
    std::uint64_t state = 12345;
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (int k = 0; k < 300; ++k) {
        const double lat = std::asin(2.0 * next() - 1.0) / deg, lon = 360.0 * next() - 180.0;
        const double radius = 0.6 + 4.0 * next() * next();
        const double reach = 1.3 * radius;
        const auto row0 = static_cast<std::int32_t>(std::floor((90.0 - lat - reach) / 180.0 * made_up_height));
        const auto row1 = static_cast<std::int32_t>(std::ceil((90.0 - lat + reach) / 180.0 * made_up_height));
        for (std::int32_t row = std::max(0, row0); row <= std::min(made_up_height - 1, row1); ++row)
            for (std::int32_t col = 0; col < made_up_width; ++col) {
                const double d = astro::arc_between_deg({lat_of(row), lon_of(col)}, {lat, lon});
                if (d < reach) v[static_cast<std::size_t>(row * made_up_width + col)] += d < radius ? -0.05 : 0.25;
            }
    }
    std::vector<std::uint8_t> out(v.size());
    for (std::size_t k = 0; k < v.size(); ++k)
        out[k] = static_cast<std::uint8_t>(std::clamp(v[k] * 100.0, 20.0, 255.0));
    return out;
}

struct jpeg_failure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void on_jpeg_error(j_common_ptr info) {
    auto* failure = reinterpret_cast<jpeg_failure*>(info->err);
    (*info->err->format_message)(info, failure->message);
    std::longjmp(failure->jump, 1);
}

} // namespace

moon_albedo::moon_albedo() : width_(made_up_width), height_(made_up_height), grey_(made_up_map()) {
    double sum = 0.0;
    for (const std::uint8_t v : grey_) sum += v;
    scale_ = static_cast<double>(grey_.size()) / sum;
}

std::string default_albedo_map_path() {
    const char* dir = std::getenv("SERFLASH_MOON_MAP_DIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/var/cache/serflash") + "/moon_4k.jpg";
}

moon_albedo moon_albedo::from_jpeg(const std::string& path, std::string& error) {
    moon_albedo map;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path;
        return map;
    }
    jpeg_decompress_struct info{};
    jpeg_failure failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = on_jpeg_error;
    std::vector<std::uint8_t> grey;
    JDIMENSION width = 0, height = 0;
    if (setjmp(failure.jump) != 0) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        error = path + ": " + failure.message;
        return map;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    width = info.output_width;
    height = info.output_height;
    if (width < 16 || height < 8 || width > 65536 || height > 32768) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        error = path + ": not a map of a usable size";
        return map;
    }
    grey.resize(static_cast<std::size_t>(width) * height);
    while (info.output_scanline < height) {
        JSAMPROW row = grey.data() + static_cast<std::size_t>(info.output_scanline) * width;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    double sum = 0.0;
    for (const std::uint8_t v : grey) sum += v;
    const double mean = sum / static_cast<double>(grey.size());
    if (!(mean > 0.0)) {
        error = path + ": the map is black";
        return map;
    }
    map.width_ = static_cast<std::int32_t>(width);
    map.height_ = static_cast<std::int32_t>(height);
    map.grey_ = std::move(grey);
    map.scale_ = 1.0 / mean;
    map.from_map_ = true;
    map.source_ = "the albedo map " + path;
    return map;
}

double moon_albedo::at(const astro::selenographic_point& p) const {
    // Bilinear between the four samples around the point.
    const double u = (astro::signed_degrees(p.lon_deg) + 180.0) / 360.0 * width_ - 0.5;
    const double v = (90.0 - p.lat_deg) / 180.0 * height_ - 0.5;
    const double fu = std::floor(u), fv = std::floor(v);
    const double du = u - fu, dv = v - fv;
    const auto sample = [&](double x, double y) {
        const auto col = static_cast<std::int32_t>(x) % width_;
        const std::int32_t wrapped = col < 0 ? col + width_ : col;
        const std::int32_t row = std::clamp(static_cast<std::int32_t>(y), 0, height_ - 1);
        return static_cast<double>(grey_[static_cast<std::size_t>(row) * static_cast<std::size_t>(width_) +
                                         static_cast<std::size_t>(wrapped)]);
    };
    const double top = sample(fu, fv) * (1.0 - du) + sample(fu + 1.0, fv) * du;
    const double bottom = sample(fu, fv + 1.0) * (1.0 - du) + sample(fu + 1.0, fv + 1.0) * du;
    return (top * (1.0 - dv) + bottom * dv) * scale_;
}

} // namespace serflash::synth
