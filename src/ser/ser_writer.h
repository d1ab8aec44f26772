#pragma once
// Writes SER files: the 178-byte header, then frames of samples, little-endian unless asked.
#include "platform/file_io.h"
#include "ser/ser_reader.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace serflash::ser {

// The 178 header bytes of h, in file order.
std::array<std::uint8_t, header_size> encode_header(const ser_header& h);

// Copies text into a fixed field: cut at the field's size, the rest NUL.
template <std::size_t N>
void set_text(std::array<char, N>& field, std::string_view text) {
    field.fill('\0');
    for (std::size_t i = 0; i < N && i < text.size(); ++i) field[i] = text[i];
}

// A header for a mono file of the given geometry; text fields and dates empty.
ser_header make_header(std::int32_t width, std::int32_t height, std::int32_t depth, std::int32_t frames);

class ser_writer {
public:
    // Writes the header at once; check ok() for failures.
    ser_writer(platform::output_file& out, const ser_header& h);

    // 16-bit samples high byte first from now on, as some programs store them.
    void set_high_byte_first(bool high_first) { high_first_ = high_first; }

    // One frame (W x H samples, three per pixel for RGB and BGR): 16-bit samples stored low
    // byte first unless set otherwise, or for depth 8 the low byte of each sample.
    bool write_frame(std::span<const std::uint16_t> samples);
    // The bytes write_frame would write.
    const std::vector<std::uint8_t>& encode_frame(std::span<const std::uint16_t> samples);
    // Raw bytes, for frames cut short or trailing data.
    bool write_bytes(std::span<const std::uint8_t> bytes);
    bool ok() const { return ok_; }
    // Closes the file; false when anything could not be written.
    bool close();

private:
    platform::output_file& out_;
    std::int32_t depth_;
    bool high_first_ = false;
    std::vector<std::uint8_t> bytes_;
    bool ok_ = true;
};

} // namespace serflash::ser
