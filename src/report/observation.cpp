#include "report/observation.h"

#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

namespace serflash::report {
namespace {

// Reads a w x h block of one frame; samples outside the frame are -1, bytes missing from the
// file read as 0 as the scan reads them.
class block_reader {
public:
    explicit block_reader(ser::ser_reader& reader) : reader_(reader) {}

    std::vector<std::int32_t> read(std::int32_t frame, std::int32_t left, std::int32_t top, std::int32_t w,
                                   std::int32_t h) {
        std::vector<std::int32_t> out(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), -1);
        const std::int32_t width = reader_.width();
        const std::int32_t height = reader_.height();
        const std::int64_t bps = ser::bytes_per_sample(reader_.depth());
        const std::int32_t x0 = std::max(left, 0);
        const std::int32_t x1 = std::min(left + w, width);
        if (x1 <= x0) return out;
        const auto n = static_cast<std::size_t>(x1 - x0);
        for (std::int32_t row = std::max(top, 0); row < std::min(top + h, height); ++row) {
            const std::int64_t at =
                ser::header_size + std::int64_t{frame} * reader_.frame_bytes() + (std::int64_t{row} * width + x0) * bps;
            bytes_.assign(n * static_cast<std::size_t>(bps), 0);
            reader_.file().read_at(at, bytes_.data(), bytes_.size());
            std::int32_t* dst = out.data() + static_cast<std::size_t>(row - top) * static_cast<std::size_t>(w) +
                                static_cast<std::size_t>(x0 - left);
            for (std::size_t i = 0; i < n; ++i) {
                if (bps == 1) {
                    dst[i] = bytes_[i];
                } else {
                    const unsigned v = unsigned{bytes_[2 * i]} | unsigned{bytes_[2 * i + 1]} << 8;
                    dst[i] = static_cast<std::int32_t>(v >> static_cast<unsigned>(reader_.bit_shift()));
                }
            }
        }
        return out;
    }

private:
    ser::ser_reader& reader_;
    std::vector<std::uint8_t> bytes_;
};

constexpr std::int32_t box_side = 2 * box_half + 1;

// The box's pixel means and the spread of its sum over one packet.
struct packet_box {
    std::vector<double> means; // box_side x box_side
    double sum_sigma = std::numeric_limits<double>::quiet_NaN();
};

packet_box measure_packet(block_reader& blocks, std::int32_t first, std::int32_t frames, std::int32_t x,
                          std::int32_t y) {
    packet_box box;
    const std::size_t n = static_cast<std::size_t>(box_side * box_side);
    std::vector<std::int64_t> sums(n, 0);
    std::vector<std::int64_t> box_sums;
    for (std::int32_t f = first; f < first + frames; ++f) {
        const auto s = blocks.read(f, x - box_half, y - box_half, box_side, box_side);
        std::int64_t total = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sums[i] += s[i];
            total += s[i];
        }
        box_sums.push_back(total);
    }
    const double count = static_cast<double>(frames);
    for (std::size_t i = 0; i < n; ++i) box.means.push_back(static_cast<double>(sums[i]) / count);
    if (frames > 1) {
        double mean = 0.0;
        for (const std::int64_t b : box_sums) mean += static_cast<double>(b);
        mean /= count;
        double sq = 0.0;
        for (const std::int64_t b : box_sums) sq += (static_cast<double>(b) - mean) * (static_cast<double>(b) - mean);
        box.sum_sigma = std::sqrt(sq / (count - 1.0));
    }
    return box;
}

double box_excess(block_reader& blocks, std::int32_t frame, std::int32_t x, std::int32_t y, const packet_box& box) {
    const auto s = blocks.read(frame, x - box_half, y - box_half, box_side, box_side);
    double excess = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) excess += static_cast<double>(s[i]) - box.means[i];
    return excess;
}

measured_candidate measure(block_reader& blocks, const detect::candidate& c, std::int32_t frames_present,
                           std::int32_t packet_size) {
    measured_candidate m;
    m.c = c;
    const std::int32_t x = c.peak.det.x;
    const std::int32_t y = c.peak.det.y;
    std::map<std::int32_t, packet_box> packets;
    const auto packet = [&](std::int32_t first) -> const packet_box& {
        auto it = packets.find(first);
        if (it == packets.end()) it = packets.emplace(first, measure_packet(blocks, first, packet_size, x, y)).first;
        return it->second;
    };
    std::map<std::int32_t, std::int32_t> packet_of;
    for (const detect::candidate_frame& f : c.frames) packet_of[f.frame] = f.packet_first_frame;
    const auto packet_for = [&](std::int32_t frame) -> const packet_box& {
        const auto it = packet_of.find(frame);
        return packet(it == packet_of.end() ? c.peak.packet_first_frame : it->second);
    };

    for (const detect::candidate_frame& f : c.frames)
        m.integrated_excess += box_excess(blocks, f.frame, x, y, packet(f.packet_first_frame));

    const std::int32_t peak = c.peak.frame;
    m.curve.first_frame = std::max(0, peak - light_curve_reach);
    const std::int32_t last = std::min(frames_present - 1, peak + light_curve_reach);
    for (std::int32_t f = m.curve.first_frame; f <= last; ++f)
        m.curve.excess.push_back(box_excess(blocks, f, x, y, packet_for(f)));
    m.curve.sigma = packet(c.peak.packet_first_frame).sum_sigma;

    constexpr std::int32_t side = 2 * cutout_half + 1;
    for (std::int32_t f = std::max(0, peak - cutout_before); f <= std::min(frames_present - 1, peak + cutout_after);
         ++f) {
        cutout cut;
        cut.frame = f;
        cut.left = x - cutout_half;
        cut.top = y - cutout_half;
        cut.samples = blocks.read(f, cut.left, cut.top, side, side);
        m.cutouts.push_back(std::move(cut));
    }
    return m;
}

std::string absolute_of(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

} // namespace

std::string observation::utc_text(std::int32_t frame) const {
    const auto t = times.utc_of(frame);
    return t ? ser::format_utc(*t) : std::string{};
}

std::int32_t last_frame_examined(const detect::pass_report& pass) {
    switch (pass.end) {
        case detect::pass_end::max_det_frames:
        case detect::pass_end::scattered:
            return pass.frame_reached; // the pass stood on the frame it had just examined
        case detect::pass_end::end_of_range:
        case detect::pass_end::stopped:
        case detect::pass_end::failed:
            break;
    }
    return pass.frame_reached - 1;
}

observation observe(ser::ser_reader& reader, const detect::scan_job& job, const scan_records& records) {
    observation o;
    o.path = job.path;
    o.absolute_path = absolute_of(job.path);
    const std::size_t slash = job.path.find_last_of('/');
    o.name = slash == std::string::npos ? job.path : job.path.substr(slash + 1);
    o.size = reader.file().size();
    o.header = reader.header();
    o.frames_present = reader.frames_present();
    o.times = ser::read_frame_times(reader, job.fps);
    o.settings = job.settings;
    o.switches = job.switches;
    o.bit_shift = job.bit_shift;
    o.passes = records.passes;
    o.scattered = records.scattered;
    block_reader blocks(reader);
    for (const detect::candidate& c : detect::group_candidates(records.frames))
        o.candidates.push_back(measure(blocks, c, o.frames_present, job.settings.packet_size));
    return o;
}

} // namespace serflash::report
