#include "ser/ser_reader.h"

#include <algorithm>
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

void shift_right(std::uint16_t* samples, std::size_t n, unsigned shift) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        u16x8 v;
        std::memcpy(&v, samples + i, sizeof v);
        v >>= shift;
        std::memcpy(samples + i, &v, sizeof v);
    }
    for (; i < n; ++i) samples[i] = static_cast<std::uint16_t>(samples[i] >> shift);
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

std::int64_t bytes_per_sample(std::int32_t depth) { return depth == 8 ? 1 : 2; }

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
    return std::int64_t{header_.ImageWidth} * header_.ImageHeight * bytes_per_sample(header_.PixelDepthPerPlane);
}

std::string ser_reader::check_geometry() const {
    const std::int32_t w = header_.ImageWidth;
    const std::int32_t h = header_.ImageHeight;
    if (w <= 0) return "image width is " + std::to_string(w);
    if (h <= 0) return "image height is " + std::to_string(h);
    const std::int64_t samples = std::int64_t{w} * h;
    if (samples > max_samples_per_frame)
        return "frame of " + std::to_string(w) + " x " + std::to_string(h) + " samples is larger than the " +
               std::to_string(max_samples_per_frame) + " samples a frame may have";
    return {};
}

std::int64_t ser_reader::data_bytes() const {
    const std::int64_t size = file_->size();
    return size < header_size ? 0 : size - header_size;
}

std::int32_t ser_reader::frames_present() const {
    const std::int64_t declared = std::max<std::int32_t>(header_.FrameCount, 0);
    if (!check_geometry().empty()) return 0;
    if (file_->size() < 0) return static_cast<std::int32_t>(declared);
    const std::int64_t whole = data_bytes() / frame_bytes();
    if (declared > 0 && whole >= declared) return static_cast<std::int32_t>(declared);
    return static_cast<std::int32_t>(std::min<std::int64_t>(whole, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t ser_reader::trailing_bytes() const {
    if (!check_geometry().empty() || header_.FrameCount <= 0 || file_->size() < 0) return 0;
    const std::int64_t used = std::int64_t{header_.FrameCount} * frame_bytes();
    return std::max<std::int64_t>(data_bytes() - used, 0);
}

void ser_reader::set_bit_shift(std::int32_t shift) { bit_shift_ = std::clamp(shift, 0, 15); }

void ser_reader::read_frame(std::span<std::uint16_t> frame_buf) {
    const std::int32_t depth = header_.PixelDepthPerPlane;
    const std::size_t n = std::min(samples_per_frame(), frame_buf.size());
    // The stream must end one whole frame further even when the caller's buffer is smaller.
    const std::int64_t next = pos_ + frame_bytes();
    if (depth == 16) {
        const std::size_t bytes = n * 2;
        read_padded(*file_, frame_buf.data(), bytes);
        const unsigned shift = static_cast<unsigned>(bit_shift_);
        if constexpr (std::endian::native == std::endian::little) {
            if (shift != 0) shift_right(frame_buf.data(), n, shift);
        } else {
            for (std::uint16_t& s : frame_buf.first(n))
                s = static_cast<std::uint16_t>(static_cast<std::uint16_t>(s >> 8 | s << 8) >> shift);
        }
    } else if (depth == 8) {
        scratch_.resize(n); // kept between frames: no allocation per frame
        read_padded(*file_, scratch_.data(), n);
        widen(scratch_.data(), frame_buf.data(), n);
    } else {
        std::fill(frame_buf.begin(), frame_buf.end(), std::uint16_t{0});
        return;
    }
    std::fill(frame_buf.begin() + static_cast<std::ptrdiff_t>(n), frame_buf.end(), std::uint16_t{0});
    if (file_->tell() != next) file_->seek(next);
    pos_ = file_->tell();
}

void ser_reader::seek_frame(std::int32_t k) {
    const std::int32_t w = header_.ImageWidth;
    const std::int32_t h = header_.ImageHeight;
    std::int64_t offset = 0;
    std::int64_t target = 0;
    const bool fits = checked_product(k, w, std::int64_t{h} * bytes_per_sample(header_.PixelDepthPerPlane), offset) &&
                      !__builtin_add_overflow(header_size, offset, &target);
    if (!fits || target < 0) {
        // No such place in any file: stand at the end, where frames read as zeros.
        target = std::max<std::int64_t>(file_->size(), header_size);
    }
    file_->seek(target);
    pos_ = file_->tell();
}

std::int64_t ser_reader::position() const { return pos_; }

} // namespace serflash::ser
