#include "sensitivity/injection.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace serflash::sensitivity {
namespace {

class patched_input final : public platform::input_file {
public:
    patched_input(std::unique_ptr<platform::input_file> file, std::shared_ptr<const byte_patch> patch)
        : file_(std::move(file)), patch_(std::move(patch)) {}

    std::size_t read(void* dst, std::size_t n) override {
        const std::int64_t pos = file_->tell();
        const std::size_t got = file_->read(dst, n);
        if (pos >= 0) patch_->apply(pos, dst, got);
        return got;
    }
    bool seek(std::int64_t pos) override { return file_->seek(pos); }
    std::int64_t tell() const override { return file_->tell(); }
    std::int64_t size() const override { return file_->size(); }
    std::size_t read_at(std::int64_t pos, void* dst, std::size_t n) override {
        const std::size_t got = file_->read_at(pos, dst, n);
        patch_->apply(pos, dst, got);
        return got;
    }
    bool concurrent_reads() const override { return file_->concurrent_reads(); }
    void will_need(std::int64_t pos, std::int64_t n) override { file_->will_need(pos, n); }
    // Only the cache is warmed or asked: the patched bytes do not matter here.
    std::size_t fetch(std::int64_t pos, std::size_t n, std::vector<std::uint8_t>& scratch) override {
        return file_->fetch(pos, n, scratch);
    }
    bool in_memory(std::int64_t pos, std::size_t n) const override { return file_->in_memory(pos, n); }
    std::optional<platform::read_failure> first_failed_read() const override { return file_->first_failed_read(); }

private:
    std::unique_ptr<platform::input_file> file_;
    std::shared_ptr<const byte_patch> patch_;
};

// One open file seen with a position of its own.
class shared_view final : public platform::input_file {
public:
    explicit shared_view(std::shared_ptr<platform::input_file> file) : file_(std::move(file)) {}

    std::size_t read(void* dst, std::size_t n) override {
        const std::size_t got = file_->read_at(pos_, dst, n);
        pos_ += static_cast<std::int64_t>(got);
        return got;
    }
    bool seek(std::int64_t pos) override {
        if (pos < 0) return false;
        pos_ = pos;
        return true;
    }
    std::int64_t tell() const override { return pos_; }
    std::int64_t size() const override { return file_->size(); }
    std::size_t read_at(std::int64_t pos, void* dst, std::size_t n) override { return file_->read_at(pos, dst, n); }
    bool concurrent_reads() const override { return true; }
    void will_need(std::int64_t pos, std::int64_t n) override { file_->will_need(pos, n); }
    std::size_t fetch(std::int64_t pos, std::size_t n, std::vector<std::uint8_t>& scratch) override {
        return file_->fetch(pos, n, scratch);
    }
    bool in_memory(std::int64_t pos, std::size_t n) const override { return file_->in_memory(pos, n); }
    std::optional<platform::read_failure> first_failed_read() const override { return file_->first_failed_read(); }

private:
    std::shared_ptr<platform::input_file> file_;
    std::int64_t pos_ = 0;
};

// Counts the bytes and forgets them.
class dropped_output final : public platform::output_file {
public:
    explicit dropped_output(std::function<void(std::size_t)> count) : count_(std::move(count)) {}
    bool write(const void*, std::size_t n) override {
        count_(n);
        return true;
    }
    bool close() override { return true; }

private:
    std::function<void(std::size_t)> count_;
};

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

} // namespace

frame_layout frame_layout::of(const ser::ser_reader& reader) {
    frame_layout l;
    l.width = reader.width();
    l.height = reader.height();
    l.depth = reader.depth();
    l.planes = reader.planes();
    l.bit_shift = reader.bit_shift();
    l.swap_bytes = reader.swap_bytes();
    l.frame_bytes = reader.frame_bytes();
    l.frames = reader.frames_present();
    return l;
}

std::vector<spot_pixel> spot_pixels(std::int32_t cx, std::int32_t cy, double counts, double radius, std::int32_t width,
                                    std::int32_t height) {
    std::vector<spot_pixel> out;
    if (!(radius > 0.0) || !(counts > 0.0)) return out;
    const auto reach = static_cast<std::int32_t>(std::ceil(3.5 * radius)) + 1;
    const double k = -0.5 / (radius * radius);
    for (std::int32_t y = std::max(0, cy - reach); y <= std::min(height - 1, cy + reach); ++y)
        for (std::int32_t x = std::max(0, cx - reach); x <= std::min(width - 1, cx + reach); ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            out.push_back({x, y, counts * std::exp(k * (dx * dx + dy * dy))});
        }
    return out;
}

platform::result<byte_patch> byte_patch::make(platform::input_file& original, const frame_layout& layout,
                                              const std::vector<injected_flash>& flashes, double radius) {
    if (layout.depth != 8 && layout.depth != 16)
        return platform::status::failure("only 8- and 16-bit samples can be injected");
    const std::int64_t pixels = std::int64_t{layout.width} * layout.height;
    // Rise in whole counts of each (frame, pixel) touched, in file order.
    std::map<std::int64_t, std::int64_t> rises;
    for (const injected_flash& f : flashes) {
        for (std::int32_t k = 0; k < f.frames; ++k) {
            const std::int32_t frame = f.frame + k;
            if (frame < 0 || frame >= layout.frames) continue;
            const double counts = k == 0 ? f.counts : f.counts * second_frame_part;
            for (const spot_pixel& p : spot_pixels(f.x, f.y, counts, radius, layout.width, layout.height)) {
                const std::int64_t rise = std::llround(p.rise);
                if (rise <= 0) continue;
                rises[std::int64_t{frame} * pixels + std::int64_t{p.y} * layout.width + p.x] += rise;
            }
        }
    }

    byte_patch patch;
    const std::int64_t bytes = ser::bytes_per_sample(layout.depth);
    const unsigned shift = layout.depth == 16 ? static_cast<unsigned>(std::clamp(layout.bit_shift, 0, 15)) : 0U;
    const std::int64_t top = layout.depth == 8 ? 255 : 65535;
    for (const auto& [key, rise] : rises) {
        const std::int64_t frame = key / pixels;
        const std::int64_t pixel = key % pixels;
        for (std::int32_t plane = 0; plane < layout.planes; ++plane) {
            const std::int64_t at =
                ser::header_size + frame * layout.frame_bytes + (pixel * layout.planes + plane) * bytes;
            std::uint8_t b[2] = {0, 0};
            const auto want = static_cast<std::size_t>(bytes);
            if (original.read_at(at, b, want) != want)
                return platform::status::failure("the frames could not be read for the injection");
            const bool high_first = layout.swap_bytes;
            std::int64_t v = bytes == 1 ? b[0] : (high_first ? (b[0] << 8 | b[1]) : (b[0] | b[1] << 8));
            v = std::min(top, v + (rise << shift));
            std::uint8_t n[2] = {static_cast<std::uint8_t>(v & 0xFF), 0};
            if (bytes == 2) {
                const auto lo = static_cast<std::uint8_t>(v & 0xFF);
                const auto hi = static_cast<std::uint8_t>(v >> 8 & 0xFF);
                n[0] = high_first ? hi : lo;
                n[1] = high_first ? lo : hi;
            }
            for (std::int64_t i = 0; i < bytes; ++i) {
                if (n[i] == b[i]) continue;
                patch.offsets_.push_back(at + i);
                patch.values_.push_back(n[i]);
            }
        }
    }
    return patch;
}

void byte_patch::apply(std::int64_t pos, void* dst, std::size_t n) const {
    if (n == 0 || offsets_.empty()) return;
    const std::int64_t end = pos + static_cast<std::int64_t>(n);
    auto* out = static_cast<std::uint8_t*>(dst);
    for (auto it = std::lower_bound(offsets_.begin(), offsets_.end(), pos); it != offsets_.end() && *it < end; ++it)
        out[*it - pos] = values_[static_cast<std::size_t>(it - offsets_.begin())];
}

std::unique_ptr<platform::input_file> make_patched_input(std::unique_ptr<platform::input_file> file,
                                                         std::shared_ptr<const byte_patch> patch) {
    return std::make_unique<patched_input>(std::move(file), std::move(patch));
}

platform::result<std::unique_ptr<platform::input_file>> shared_open_file_system::open_read(const std::string& path) {
    if (path != path_) return reads_.open_read(path);
    const std::lock_guard lock(mutex_);
    if (!shared_) {
        auto file = reads_.open_read(path);
        if (!file || !file.value()->concurrent_reads()) return file;
        shared_ = std::move(file.value());
    }
    return std::unique_ptr<platform::input_file>(std::make_unique<shared_view>(shared_));
}

injecting_file_system::injecting_file_system(platform::file_system& reads, std::string path,
                                             std::shared_ptr<const byte_patch> patch)
    : reads_(reads), path_(std::move(path)), patch_(std::move(patch)) {}

platform::result<std::unique_ptr<platform::input_file>> injecting_file_system::open_read(const std::string& path) {
    auto file = reads_.open_read(path);
    if (!file || path != path_) return file;
    return make_patched_input(std::move(file.value()), patch_);
}

platform::result<std::unique_ptr<platform::output_file>> injecting_file_system::open_write(const std::string& path,
                                                                                           platform::write_mode) {
    const std::lock_guard lock(mutex_);
    const std::string parent = parent_of(path);
    if (!parent.empty() && dirs_.count(parent) == 0) return platform::status::failure("No such file or directory");
    files_.insert(path);
    return std::unique_ptr<platform::output_file>(std::make_unique<dropped_output>([this](std::size_t n) {
        const std::lock_guard count_lock(mutex_);
        written_ += static_cast<std::int64_t>(n);
    }));
}

platform::status injecting_file_system::make_dir(const std::string& path) {
    const std::lock_guard lock(mutex_);
    if (!dirs_.insert(path).second) return platform::status::failure("File exists");
    return {};
}

bool injecting_file_system::exists(const std::string& path) {
    const std::lock_guard lock(mutex_);
    return dirs_.count(path) > 0 || files_.count(path) > 0;
}

platform::status injecting_file_system::rename_no_replace(const std::string& from, const std::string& to) {
    const std::lock_guard lock(mutex_);
    if (dirs_.count(to) > 0 || files_.count(to) > 0) return platform::status::failure("File exists");
    if (dirs_.erase(from) == 0) return platform::status::failure("No such file or directory");
    dirs_.insert(to);
    std::set<std::string> moved;
    for (const std::string& f : files_) moved.insert(f.rfind(from + "/", 0) == 0 ? to + f.substr(from.size()) : f);
    files_ = std::move(moved);
    return {};
}

platform::entry_kind injecting_file_system::kind_of(const std::string& path) {
    const std::lock_guard lock(mutex_);
    if (dirs_.count(path) > 0) return platform::entry_kind::directory;
    if (files_.count(path) > 0) return platform::entry_kind::file;
    return platform::entry_kind::missing;
}

std::int64_t injecting_file_system::bytes_written() const {
    const std::lock_guard lock(mutex_);
    return written_;
}

} // namespace serflash::sensitivity
