#include "detect/scan_state.h"

#include <new>

namespace serflash::detect {

void report_no_packet_memory(const scan_state& st) {
    st.hooks.say(engine_message::failure(caption_id::packet_statistics,
                                         "Not enough memory for the packet statistics; the scan of this file stops.",
                                         "not enough memory for the packet statistics"));
}

bool compute_packet_stats(scan_state& st) {
    const std::size_t pixels = st.reader->samples_per_frame();
    std::vector<std::int64_t> sum;
    std::vector<std::int64_t> sum_sq;
    try {
        sum.assign(pixels, 0);
        sum_sq.assign(pixels, 0);
        st.frame_buf.resize(pixels);
        st.mean_map.resize(pixels);
        st.sigma_map.resize(pixels);
    } catch (const std::bad_alloc&) {
        report_no_packet_memory(st);
        return false;
    }

    st.reader->seek_frame(st.cur_frame);
    for (std::int32_t f = 0; f < st.settings.packet_size; ++f) {
        st.reader->read_frame(st.frame_buf);
        for (std::size_t p = 0; p < pixels; ++p) {
            const std::int64_t x = st.frame_buf[p];
            sum[p] += x;
            sum_sq[p] += x * x;
        }
    }

    const double n = static_cast<double>(st.settings.packet_size);
    const double d = static_cast<double>(st.settings.packet_size - 1);
    for (std::size_t p = 0; p < pixels; ++p) {
        const pixel_moments m = packet_moments(static_cast<double>(sum[p]), static_cast<double>(sum_sq[p]), n, d);
        st.mean_map[p] = m.mean;
        st.sigma_map[p] = m.sigma;
    }
    return true;
}

} // namespace serflash::detect
