// Arbitrary bytes as a SER file: the header, its checks and frame reading must never crash,
// read out of bounds, or give values a sample cannot have.
#include "ser/ser_reader.h"
#include "ser/text_cp932.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

std::size_t count_line_ends(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace serflash;
    ser::ser_reader reader(platform::make_memory_input(std::vector<std::uint8_t>(data, data + size)));
    const std::string& text = reader.read_ser_header();
    require(text.size() <= 493);
    require(count_line_ends(text) >= 13);
    require(reader.position() == ser::header_size);

    const std::string shown = ser::cp932_to_printable_utf8(text);
    for (const char c : shown) require(c == '\n' || static_cast<unsigned char>(c) >= 0x20);

    const bool geometry_ok = reader.check_geometry().ok();
    const std::int32_t present = reader.frames_present();
    require(present >= 0);
    require(reader.trailing_bytes() >= 0);
    if (!geometry_ok) {
        require(present == 0);
        std::vector<std::uint16_t> none;
        reader.read_frame(none); // nothing to fill, nothing to read out of bounds
        return 0;
    }
    require(reader.frame_count() <= 0 || present <= reader.frame_count());
    require(static_cast<std::int64_t>(present) * reader.frame_bytes() <= reader.data_bytes());
    if (reader.samples_per_frame() > (1u << 16)) return 0;

    std::vector<std::uint16_t> frame(reader.samples_per_frame());
    const std::int32_t shifts[] = {
        0, 2, 8, 15, 16, -1, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    const std::int32_t frames[] = {0,
                                   1,
                                   present,
                                   present - 1,
                                   reader.frame_count(),
                                   -1,
                                   std::numeric_limits<std::int32_t>::max(),
                                   std::numeric_limits<std::int32_t>::min()};
    const std::int32_t depth = reader.depth();
    for (const std::int32_t shift : shifts) {
        reader.set_bit_shift(shift);
        require(reader.bit_shift() >= 0 && reader.bit_shift() <= 15);
        for (const std::int32_t k : frames) {
            reader.seek_frame(k);
            const std::int64_t before = reader.position();
            reader.read_frame(frame);
            const std::uint32_t top = depth == 8 ? 255u : depth == 16 ? 65535u >> reader.bit_shift() : 0u;
            for (const std::uint16_t s : frame) require(s <= top);
            if (depth != 8 && depth != 16)
                require(reader.position() == before);
            else
                require(reader.position() == before + reader.frame_bytes());
        }
    }
    return 0;
}
