#include "detect/packet_buffers.h"

#include "detect/messages.h"

#include <new>

namespace serflash::detect {

void report_no_packet_memory(const engine_hooks& hooks) {
    hooks.say(engine_message::failure(caption_id::packet_statistics,
                                      "Not enough memory for the packet statistics; the scan of this file stops.",
                                      "not enough memory for the packet statistics"));
}

bool compute_packet_stats(packet_buffers& buf, ser::ser_reader& reader, std::int32_t packet_size,
                          std::int32_t first_frame, const engine_hooks& hooks) {
    const std::size_t pixels = reader.samples_per_frame();
    std::vector<std::int64_t> sum;
    std::vector<std::int64_t> sum_sq;
    try {
        sum.assign(pixels, 0);
        sum_sq.assign(pixels, 0);
        buf.frame_buf.resize(pixels);
        buf.mean_map.resize(pixels);
        buf.sigma_map.resize(pixels);
    } catch (const std::bad_alloc&) {
        report_no_packet_memory(hooks);
        return false;
    }
    buf.width = reader.width();
    buf.height = reader.height();

    reader.seek_frame(first_frame);
    for (std::int32_t f = 0; f < packet_size; ++f) {
        reader.read_frame(buf.frame_buf);
        for (std::size_t p = 0; p < pixels; ++p) {
            const std::int64_t x = buf.frame_buf[p];
            sum[p] += x;
            sum_sq[p] += x * x;
        }
    }

    const double n = static_cast<double>(packet_size);
    const double d = static_cast<double>(packet_size - 1);
    for (std::size_t p = 0; p < pixels; ++p) {
        const pixel_moments m = packet_moments(static_cast<double>(sum[p]), static_cast<double>(sum_sq[p]), n, d);
        buf.mean_map[p] = m.mean;
        buf.sigma_map[p] = m.sigma;
    }
    return true;
}

} // namespace serflash::detect
