#include "ser/ser_reader.h"

#include <algorithm>
#include <cstdlib>
#include <bit>
#include <cstring>
#include <limits>

namespace serflash::ser {
namespace {

// The full-width colon of code page 932, written after the labels of lines 1 to 11.
constexpr std::string_view wide_colon = "\x81\x46";
constexpr std::string_view line_end = "\r\n";

// Reads exactly n bytes; whatever the file does not hold reads as 0.
void read_padded(platform::input_file& file, void* dst, std::size_t n) {
    if (n == 0) return; // an empty frame buffer may have no storage at all
    const std::size_t got = file.read(dst, n);
    if (got < n) std::memset(static_cast<unsigned char*>(dst) + got, 0, n - got);
}

std::int32_t read_i32(platform::input_file& file) {
    unsigned char b[4];
    read_padded(file, b, sizeof b);
    const std::uint32_t u =
        std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
    return static_cast<std::int32_t>(u);
}

std::int64_t read_i64(platform::input_file& file) {
    unsigned char b[8];
    read_padded(file, b, sizeof b);
    std::uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = u << 8 | b[i];
    return static_cast<std::int64_t>(u);
}

template <std::size_t N>
void read_text(platform::input_file& file, std::array<char, N>& field) {
    read_padded(file, field.data(), N);
}

template <std::size_t N>
std::string_view text_of(const std::array<char, N>& field) {
    const auto nul = std::find(field.begin(), field.end(), '\0');
    return {field.data(), static_cast<std::size_t>(nul - field.begin())};
}

void add_line(std::string& out, std::string_view label, std::string_view value) {
    out += label;
    out += wide_colon;
    out += value;
    out += line_end;
}

// a x b x c in 64 bits; false when the product does not fit.
bool checked_product(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t& out) {
    std::int64_t ab = 0;
    return !__builtin_mul_overflow(a, b, &ab) && !__builtin_mul_overflow(ab, c, &out);
}

// Whole-frame conversions in 16-byte vectors: the compiler does not vectorise these loops at -O2
// by itself, and they run once per frame of every scan.
using u16x8 = std::uint16_t __attribute__((vector_size(16)));
using u8x16 = std::uint8_t __attribute__((vector_size(16)));
using u16x16 = std::uint16_t __attribute__((vector_size(32)));

// Reverses the bytes of every sample, then shifts it.
void swap_and_shift(std::uint16_t* samples, std::size_t n, unsigned shift) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        u16x8 v;
        std::memcpy(&v, samples + i, sizeof v);
        v = static_cast<u16x8>(v >> 8 | v << 8) >> shift;
        std::memcpy(samples + i, &v, sizeof v);
    }
    for (; i < n; ++i)
        samples[i] = static_cast<std::uint16_t>(static_cast<std::uint16_t>(samples[i] >> 8 | samples[i] << 8) >> shift);
}

// The plane of a colour frame (three samples per pixel): the integer mean of the three. The
// mean keeps the range of one sample, so the scan table's display levels and the detection
// limits mean what they mean for a mono file, and it has less noise than any one colour.
template <typename Out>
void mean_of_three_8(const std::uint8_t* src, Out* dst, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, src += 3) dst[i] = static_cast<Out>((unsigned{src[0]} + src[1] + src[2]) / 3);
}

void mean_of_three_16(const std::uint8_t* src, std::uint16_t* dst, std::size_t n, bool high_first, unsigned shift) {
    const int lo = high_first ? 1 : 0;
    const int hi = 1 - lo;
    for (std::size_t i = 0; i < n; ++i, src += 6) {
        const unsigned sum = (unsigned{src[lo]} | unsigned{src[hi]} << 8) +
                             (unsigned{src[2 + lo]} | unsigned{src[2 + hi]} << 8) +
                             (unsigned{src[4 + lo]} | unsigned{src[4 + hi]} << 8);
        dst[i] = static_cast<std::uint16_t>(sum / 3 >> shift);
    }
}

// Reads exactly n bytes at pos; whatever the file does not hold reads as 0.
void read_padded_at(platform::input_file& file, std::int64_t pos, void* dst, std::size_t n) {
    if (n == 0) return;
    const std::size_t got = file.read_at(pos, dst, n);
    if (got < n) std::memset(static_cast<unsigned char*>(dst) + got, 0, n - got);
}

void widen(const std::uint8_t* src, std::uint16_t* dst, std::size_t n) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        u8x16 b;
        std::memcpy(&b, src + i, sizeof b);
        const u16x16 w = __builtin_convertvector(b, u16x16);
        std::memcpy(dst + i, &w, sizeof w);
    }
    for (; i < n; ++i) dst[i] = src[i];
}

} // namespace

void shift_samples(std::uint16_t* samples, std::size_t n, unsigned shift) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        u16x8 v;
        std::memcpy(&v, samples + i, sizeof v);
        v >>= shift;
        std::memcpy(samples + i, &v, sizeof v);
    }
    for (; i < n; ++i) samples[i] = static_cast<std::uint16_t>(samples[i] >> shift);
}

std::int64_t bytes_per_sample(std::int32_t depth) { return depth == 8 ? 1 : 2; }

std::int32_t samples_per_pixel(std::int32_t color_id) { return color_id == color_rgb || color_id == color_bgr ? 3 : 1; }

ser_reader::ser_reader(std::unique_ptr<platform::input_file> file) : file_(std::move(file)) {}

const std::string& ser_reader::read_ser_header() {
    platform::input_file& f = *file_;
    f.seek(0);
    ser_header h;
    std::string& t = header_text_;
    t.clear();

    read_text(f, h.FileID);
    add_line(t, "FileID(14byte)", text_of(h.FileID));
    h.LuID = read_i32(f);
    add_line(t, "LuID(int)", std::to_string(h.LuID));
    h.ColorID = read_i32(f);
    add_line(t, "ColorID(int)", std::to_string(h.ColorID));
    h.LittleEndian = read_i32(f);
    add_line(t, "LittleEndian(int)", std::to_string(h.LittleEndian));
    h.ImageWidth = read_i32(f);
    add_line(t, "ImageWidth(int)", std::to_string(h.ImageWidth));
    h.ImageHeight = read_i32(f);
    add_line(t, "ImageHeight(int)", std::to_string(h.ImageHeight));
    h.PixelDepthPerPlane = read_i32(f);
    add_line(t, "PixelDepthPerPlane(int)", std::to_string(h.PixelDepthPerPlane));
    h.FrameCount = read_i32(f);
    add_line(t, "FrameCount(int)", std::to_string(h.FrameCount));
    read_text(f, h.Observer);
    add_line(t, "Observer(40byte)", text_of(h.Observer));
    read_text(f, h.Instrument);
    add_line(t, "Instrument(40byte)", text_of(h.Instrument));
    read_text(f, h.Telescope);
    add_line(t, "Telescope(40byte)", text_of(h.Telescope));
    h.Datetime = read_i64(f);
    t += "Datetime:" + std::to_string(h.Datetime) + "\r\n";
    h.DatetimeUTC = read_i64(f);
    t += "Datetime UTC:" + std::to_string(h.DatetimeUTC) + "\r\n";

    header_ = h;
    // A short file leaves the stream at its end; the next frame read starts at frame 0 anyway.
    f.seek(header_size);
    pos_ = f.tell();
    return header_text_;
}

std::size_t ser_reader::samples_per_frame() const {
    if (header_.ImageWidth <= 0 || header_.ImageHeight <= 0) return 0;
    return static_cast<std::size_t>(header_.ImageWidth) * static_cast<std::size_t>(header_.ImageHeight);
}

std::int64_t ser_reader::frame_bytes() const {
    if (header_.ImageWidth <= 0 || header_.ImageHeight <= 0) return 0;
    // A frame that check_geometry refuses has no size (the product below could overflow).
    const std::int64_t samples = std::int64_t{header_.ImageWidth} * header_.ImageHeight;
    if (samples > max_samples_per_frame) return 0;
    return samples * bytes_per_sample(header_.PixelDepthPerPlane) * planes();
}

std::string ser_reader::layout_text() const {
    const std::int32_t id = header_.ColorID;
    switch (id) {
        case 0:
            return "mono";
        case color_rgb:
            return "RGB, scanned as the mean of its three colours";
        case color_bgr:
            return "BGR, scanned as the mean of its three colours";
        default:
            break;
    }
    static constexpr const char* mosaics[] = {"RGGB",  "GRBG",  "GBRG", "BGGR", nullptr, nullptr,
                                              nullptr, nullptr, "CYYM", "YCMY", "YMCY",  "MYYC"};
    if (id >= 8 && id <= 19 && mosaics[id - 8] != nullptr)
        return std::string("Bayer ") + mosaics[id - 8] + " (one plane)";
    return "colour layout " + std::to_string(id) + " unknown, read as one plane";
}

platform::status ser_reader::check_geometry() const {
    const std::int32_t w = header_.ImageWidth;
    const std::int32_t h = header_.ImageHeight;
    if (w <= 0) return platform::status::failure("image width is " + std::to_string(w));
    if (h <= 0) return platform::status::failure("image height is " + std::to_string(h));
    const std::int64_t samples = std::int64_t{w} * h;
    if (samples > max_samples_per_frame)
        return platform::status::failure("frame of " + std::to_string(w) + " x " + std::to_string(h) +
                                         " samples is larger than the " + std::to_string(max_samples_per_frame) +
                                         " samples a frame may have");
    return {};
}

std::int64_t ser_reader::data_bytes() const {
    const std::int64_t size = file_->size();
    return size < header_size ? 0 : size - header_size;
}

std::int32_t ser_reader::frames_present() const {
    const std::int64_t declared = std::max<std::int32_t>(header_.FrameCount, 0);
    if (!check_geometry()) return 0;
    if (file_->size() < 0) return static_cast<std::int32_t>(declared);
    const std::int64_t whole = data_bytes() / frame_bytes();
    if (declared > 0 && whole >= declared) return static_cast<std::int32_t>(declared);
    return static_cast<std::int32_t>(std::min<std::int64_t>(whole, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t ser_reader::trailing_bytes() const {
    if (!check_geometry() || header_.FrameCount <= 0 || file_->size() < 0) return 0;
    const std::int64_t used = std::int64_t{header_.FrameCount} * frame_bytes();
    return std::max<std::int64_t>(data_bytes() - used, 0);
}

void ser_reader::set_bit_shift(std::int32_t shift) { bit_shift_ = std::clamp(shift, 0, 15); }

void ser_reader::read_samples(std::uint16_t* out, std::size_t n) {
    const std::int32_t depth = header_.PixelDepthPerPlane;
    const unsigned shift = static_cast<unsigned>(bit_shift_);
    if (planes() == 3) {
        const std::size_t bytes = n * 3 * static_cast<std::size_t>(bytes_per_sample(depth));
        scratch_.resize(bytes);
        read_padded(*file_, scratch_.data(), bytes);
        if (depth == 8)
            mean_of_three_8(scratch_.data(), out, n);
        else
            mean_of_three_16(scratch_.data(), out, n, swap_bytes_, shift);
    } else if (depth == 16) {
        read_padded(*file_, out, n * 2);
        const bool stored_native = (std::endian::native == std::endian::little) != swap_bytes_;
        if (!stored_native)
            swap_and_shift(out, n, shift);
        else if (shift != 0)
            shift_samples(out, n, shift);
    } else {
        scratch_.resize(n); // kept between frames: no allocation per frame
        read_padded(*file_, scratch_.data(), n);
        widen(scratch_.data(), out, n);
    }
}

void ser_reader::read_frame(std::span<std::uint16_t> frame_buf) {
    const std::int32_t depth = header_.PixelDepthPerPlane;
    const std::size_t n = std::min(samples_per_frame(), frame_buf.size());
    // The stream must end one whole frame further even when the caller's buffer is smaller.
    const std::int64_t next = pos_ + frame_bytes();
    if (depth != 8 && depth != 16) {
        std::fill(frame_buf.begin(), frame_buf.end(), std::uint16_t{0});
        return;
    }
    read_samples(frame_buf.data(), n);
    std::fill(frame_buf.begin() + static_cast<std::ptrdiff_t>(n), frame_buf.end(), std::uint16_t{0});
    if (file_->tell() != next) file_->seek(next);
    pos_ = file_->tell();
}

void ser_reader::read_rows(std::int32_t k, std::int32_t first_row, std::int32_t rows, std::span<std::uint16_t> out) {
    const std::int32_t depth = header_.PixelDepthPerPlane;
    const std::size_t row_samples = static_cast<std::size_t>(std::max(header_.ImageWidth, 0));
    // Rows past the frame's last would come from the next frame: they are left at zero.
    const std::int32_t in_frame = std::clamp(rows, 0, std::max(header_.ImageHeight - first_row, 0));
    const std::size_t n = std::min(static_cast<std::size_t>(in_frame) * row_samples, out.size());
    if ((depth != 8 && depth != 16) || first_row < 0 || !check_geometry()) {
        std::fill(out.begin(), out.end(), std::uint16_t{0});
        return;
    }
    seek_frame(k);
    const std::int64_t row_bytes =
        static_cast<std::int64_t>(row_samples) * bytes_per_sample(depth) * static_cast<std::int64_t>(planes());
    if (!file_->seek(pos_ + std::int64_t{first_row} * row_bytes)) {
        std::fill(out.begin(), out.end(), std::uint16_t{0});
        return;
    }
    read_samples(out.data(), n);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), std::uint16_t{0});
    pos_ = file_->tell();
}

std::int64_t ser_reader::frame_offset(std::int32_t k) const {
    const std::int32_t w = header_.ImageWidth;
    const std::int32_t h = header_.ImageHeight;
    std::int64_t offset = 0;
    std::int64_t target = 0;
    const bool fits =
        checked_product(k, w, std::int64_t{h} * bytes_per_sample(header_.PixelDepthPerPlane) * planes(), offset) &&
        !__builtin_add_overflow(header_size, offset, &target);
    // No such place in any file: the end, where frames read as zeros.
    if (!fits || target < 0) return std::max<std::int64_t>(file_->size(), header_size);
    return target;
}

void ser_reader::seek_frame(std::int32_t k) {
    file_->seek(frame_offset(k));
    pos_ = file_->tell();
}

void ser_reader::read_raw_rows(std::int32_t k, std::int32_t first_row, std::int32_t rows, std::uint8_t* out,
                               std::vector<std::uint8_t>& scratch) {
    const std::int32_t depth = header_.PixelDepthPerPlane;
    const std::size_t n =
        static_cast<std::size_t>(std::max(rows, 0)) * static_cast<std::size_t>(std::max(header_.ImageWidth, 0));
    const std::size_t plane_bytes = n * scan_sample_bytes();
    if ((depth != 8 && depth != 16) || first_row < 0 || !check_geometry()) {
        if (plane_bytes != 0) std::memset(out, 0, plane_bytes);
        return;
    }
    const auto row_bytes = static_cast<std::int64_t>(header_.ImageWidth) * bytes_per_sample(depth) * planes();
    const std::int64_t pos = frame_offset(k) + std::int64_t{first_row} * row_bytes;
    const auto shift = static_cast<unsigned>(bit_shift_);
    if (planes() == 3) {
        const std::size_t bytes = plane_bytes * 3;
        if (scratch.size() < bytes) scratch.resize(bytes);
        read_padded_at(*file_, pos, scratch.data(), bytes);
        if (depth == 8)
            mean_of_three_8(scratch.data(), out, n);
        else
            mean_of_three_16(scratch.data(), reinterpret_cast<std::uint16_t*>(out), n, swap_bytes_, shift);
        return;
    }
    read_padded_at(*file_, pos, out, plane_bytes);
    if (depth == 8) return;
    auto* samples = reinterpret_cast<std::uint16_t*>(out);
    const bool stored_native = (std::endian::native == std::endian::little) != swap_bytes_;
    if (!stored_native)
        swap_and_shift(samples, n, shift);
    else if (shift != 0)
        shift_samples(samples, n, shift);
}

std::int64_t ser_reader::position() const { return pos_; }

std::string byte_order_warning(ser_reader& reader) {
    if (!looks_byte_swapped(reader)) return {};
    return reader.swap_bytes() ? "the samples look byte-swapped (stored low byte first); try without --swap-bytes"
                               : "the samples look byte-swapped (stored high byte first); try --swap-bytes";
}

bool looks_byte_swapped(ser_reader& reader) {
    if (reader.depth() != 16 || !reader.check_geometry()) return false;
    const std::int32_t present = reader.frames_present();
    if (present <= 0) return false;
    platform::input_file& file = reader.file();
    const std::size_t step = static_cast<std::size_t>(reader.planes()); // the same colour of the next pixel
    const std::size_t row_samples = static_cast<std::size_t>(reader.width()) * step;
    const std::int64_t row_bytes = static_cast<std::int64_t>(row_samples) * 2;
    constexpr std::int32_t frames_sampled = 4;
    constexpr std::int32_t rows_sampled = 32;
    const std::int32_t frames = std::min(present, frames_sampled);
    const std::int32_t rows = std::min(reader.height(), rows_sampled);

    // How far neighbouring samples differ, taken low byte first and high byte first. Sky, noise
    // and objects change little from one pixel to the next in the right order; in the wrong
    // one the noisy low byte becomes the high byte and the steps grow by about 256 times.
    double low_first = 0;
    double high_first = 0;
    double pairs = 0;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(row_bytes));
    for (std::int32_t f = 0; f < frames; ++f) {
        const std::int64_t frame = frames > 1 ? std::int64_t{present - 1} * f / (frames - 1) : 0;
        for (std::int32_t r = 0; r < rows; ++r) {
            const std::int64_t y = rows > 1 ? std::int64_t{reader.height() - 1} * r / (rows - 1) : 0;
            const std::int64_t at = header_size + frame * reader.frame_bytes() + y * row_bytes;
            if (file.read_at(at, row.data(), row.size()) != row.size()) continue;
            for (std::size_t i = 0; i + step < row_samples; ++i) {
                const std::uint8_t* a = row.data() + 2 * i;
                const std::uint8_t* b = row.data() + 2 * (i + step);
                low_first += std::abs((int{a[0]} | int{a[1]} << 8) - (int{b[0]} | int{b[1]} << 8));
                high_first += std::abs((int{a[0]} << 8 | int{a[1]}) - (int{b[0]} << 8 | int{b[1]}));
                pairs += 1;
            }
        }
    }
    file.seek(reader.position());
    const double as_read = reader.swap_bytes() ? high_first : low_first;
    const double other = reader.swap_bytes() ? low_first : high_first;
    // Clearly rougher as read, with steps of a good part of one high-byte unit on average:
    // random data are as rough both ways, flat frames and frames of zeros as smooth.
    constexpr double margin = 8.0;
    constexpr double least_step = 32.0;
    return pairs > 0 && as_read > margin * other && as_read > least_step * pairs;
}

} // namespace serflash::ser
