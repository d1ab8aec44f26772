#pragma once
// Reader of SER video files: the 178-byte header and frames of 8 or 16 bits per sample, mono,
// Bayer (one plane) or with three colour samples per pixel (read as one plane of their mean).
#include "platform/file_io.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace serflash::ser {

inline constexpr std::int64_t header_size = 178;
// Largest frame a header may describe (8192 x 8192). Scanning keeps about 26 bytes per sample
// (16-bit frame, two double maps, star map, 32-bit display bitmap), so this bounds a scan's
// memory to under 2 GiB while covering the largest astronomy sensors made.
inline constexpr std::int64_t max_samples_per_frame = std::int64_t{1} << 26;

struct ser_header {
    std::array<char, 14> FileID{};
    std::int32_t LuID = 0;
    std::int32_t ColorID = 0;
    std::int32_t LittleEndian = 0;
    std::int32_t ImageWidth = 0;
    std::int32_t ImageHeight = 0;
    std::int32_t PixelDepthPerPlane = 0;
    std::int32_t FrameCount = 0;
    std::array<char, 40> Observer{};
    std::array<char, 40> Instrument{};
    std::array<char, 40> Telescope{};
    std::int64_t Datetime = 0;
    std::int64_t DatetimeUTC = 0;
};

// Bytes per sample: 1 for depth 8, else 2.
std::int64_t bytes_per_sample(std::int32_t depth);

// ColorID values of the layouts that store three samples per pixel.
inline constexpr std::int32_t color_rgb = 100;
inline constexpr std::int32_t color_bgr = 101;
// Samples stored per pixel: 3 for RGB and BGR, else 1.
std::int32_t samples_per_pixel(std::int32_t color_id);

class ser_reader {
public:
    explicit ser_reader(std::unique_ptr<platform::input_file> file);

    // Parses the header from byte 0 (bytes missing from a short file read as 0), sets the
    // geometry and rebuilds header_text (13 lines, CR LF, code page 932 separators).
    // Leaves the stream at byte 178.
    const std::string& read_ser_header();
    const std::string& header_text() const { return header_text_; }
    const ser_header& header() const { return header_; }

    std::int32_t width() const { return header_.ImageWidth; }
    std::int32_t height() const { return header_.ImageHeight; }
    std::int32_t depth() const { return header_.PixelDepthPerPlane; }
    std::int32_t frame_count() const { return header_.FrameCount; }
    // W x H as a count of samples of the plane read (valid only after check_geometry() passed).
    std::size_t samples_per_frame() const;
    // Bytes a frame takes in the file: W x H x bytes per sample x planes().
    std::int64_t frame_bytes() const;
    // Samples stored per pixel: 3 for the RGB and BGR layouts, else 1.
    std::int32_t planes() const { return samples_per_pixel(header_.ColorID); }
    // How the frames are laid out and read: "mono", "Bayer RGGB (one plane)", "RGB, scanned as
    // the mean of its three colours", ...
    std::string layout_text() const;

    // Why this file's header cannot be used to size buffers, or empty when it can: W and H
    // positive, W x H x bytes per sample within a sane memory budget.
    platform::status check_geometry() const;
    // Whole frames really present in the file (from its size), at most FrameCount when
    // FrameCount is positive; never negative.
    std::int32_t frames_present() const;
    // Bytes after the last of FrameCount whole frames (0 when the file is not longer than that).
    std::int64_t trailing_bytes() const;
    // Bytes after the header (0 for a file shorter than the header).
    std::int64_t data_bytes() const;

    // Shift (kept within 0..15) applied to 16-bit samples as they are read.
    void set_bit_shift(std::int32_t shift);
    std::int32_t bit_shift() const { return bit_shift_; }
    // Takes 16-bit samples high byte first (the LittleEndian field of real files is unreliable,
    // so the default is always low byte first).
    void set_swap_bytes(bool swap) { swap_bytes_ = swap; }
    bool swap_bytes() const { return swap_bytes_; }

    // Reads the frame at the current position into frame_buf (W x H samples) with one read;
    // bytes beyond the end of the file read as 0. Three samples per pixel arrive as their
    // integer mean, shifted as a mono sample is. Depths other than 8 and 16 give zeros and do
    // not move the stream.
    void read_frame(std::span<std::uint16_t> frame_buf);
    // Reads `rows` rows of frame k from first_row into out (rows x W samples), as read_frame
    // would give them; rows below the frame's last are zeros. The stream's position is then
    // unspecified.
    void read_rows(std::int32_t k, std::int32_t first_row, std::int32_t rows, std::span<std::uint16_t> out);
    // Reads `rows` rows of frame k from first_row into out as the plane the scan examines, in
    // scan_sample_bytes() per sample: 8-bit samples as bytes, 16-bit samples in this machine's
    // byte order with the byte order taken and the bit shift applied; three samples per pixel
    // as their integer mean, as read_frame gives them. out must be 2-byte aligned. Bytes the file
    // does not hold read as 0. The stream's position is then unspecified. Calls may run on
    // several threads at once when file().concurrent_reads(), each with its own `scratch`.
    void read_raw_rows(std::int32_t k, std::int32_t first_row, std::int32_t rows, std::uint8_t* out,
                       std::vector<std::uint8_t>& scratch);
    // Bytes per sample of what read_raw_rows gives: 1 for 8-bit files, else 2.
    std::size_t scan_sample_bytes() const { return depth() == 8 ? 1U : 2U; }
    // Where frame k starts in the file: 178 + k x frame_bytes() (the file's end when that does
    // not fit in 64 bits).
    std::int64_t frame_offset(std::int32_t k) const;
    // Positions at the start of frame k: 178 + k x W x H x b in 64-bit arithmetic.
    void seek_frame(std::int32_t k);
    std::int64_t position() const;

    platform::input_file& file() { return *file_; }

private:
    // Reads n pixels from the current position into out, converted as read_frame does.
    void read_samples(std::uint16_t* out, std::size_t n);

    std::unique_ptr<platform::input_file> file_;
    ser_header header_{};
    std::string header_text_;
    std::int32_t bit_shift_ = 0;
    bool swap_bytes_ = false;
    std::int64_t pos_ = 0;
    std::vector<std::uint8_t> scratch_; // 8-bit or colour frame bytes, reused from frame to frame
};

// The bit shift of 16-bit samples, in place: each becomes sample >> shift. Every reader of
// frames applies it through this.
void shift_samples(std::uint16_t* samples, std::size_t count, unsigned shift);

// True when the 16-bit samples, in the byte order the reader now takes, look as if they were
// stored in the other order: a few rows of a few frames are far smoother read the other way.
// Always false for 8-bit files and for files without a whole frame. Leaves the position as it was.
bool looks_byte_swapped(ser_reader& reader);
// "the samples look byte-swapped (stored high byte first); try --swap-bytes" when they do (see
// looks_byte_swapped), or empty.
std::string byte_order_warning(ser_reader& reader);

} // namespace serflash::ser
