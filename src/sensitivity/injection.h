#pragma once
// Synthetic flashes added to a SER file's frames as they are read, never to the file itself:
// a file system whose reads of one file pass through a patch of the bytes the flashes change,
// and whose writes are kept in memory and dropped, so that a scan of the injected frames leaves
// nothing behind.
#include "platform/file_io.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace serflash::sensitivity {

// A round Gaussian spot whose centre pixel rises by `counts` (in samples as the scan reads
// them: after the bit shift, the mean of three colours) in `frame`, and for a flash of two
// frames by half that in the next frame.
struct injected_flash {
    std::int32_t x = 0; // column of the centre
    std::int32_t y = 0; // row
    std::int32_t frame = 0;
    std::int32_t frames = 1; // 1 or 2
    double counts = 0.0;
};

// The second frame of a two-frame flash rises by this part of the first's amplitude.
inline constexpr double second_frame_part = 0.5;

// How a file's frames lie in it, from its header and the way the scan reads it.
struct frame_layout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t depth = 16; // 8 or 16 bits per sample
    std::int32_t planes = 1; // samples per pixel
    std::int32_t bit_shift = 0;
    bool swap_bytes = false;
    std::int64_t frame_bytes = 0;
    std::int32_t frames = 0; // whole frames present

    static frame_layout of(const ser::ser_reader& reader);
};

// The rise of each pixel of a spot, in counts before rounding: counts x exp(-d^2 / (2 r^2)) for
// pixels within ceil(3.5 r) + 1 of the centre (the sample generator's spot).
struct spot_pixel {
    std::int32_t x = 0, y = 0;
    double rise = 0.0;
};
std::vector<spot_pixel> spot_pixels(std::int32_t cx, std::int32_t cy, double counts, double radius, std::int32_t width,
                                    std::int32_t height);

// The bytes of a file that a set of flashes changes, with their new values. Samples rise by
// whole counts (rounded), shifted back into the file's units; a sample at the top of its range
// stays there.
class byte_patch {
public:
    byte_patch() = default;
    // Reads the samples the spots fall on from the original file.
    static platform::result<byte_patch> make(platform::input_file& original, const frame_layout& layout,
                                             const std::vector<injected_flash>& flashes, double radius);

    // Overwrites the patched bytes of [pos, pos + n) in dst, which holds those bytes of the file.
    void apply(std::int64_t pos, void* dst, std::size_t n) const;
    std::size_t size() const { return offsets_.size(); }
    const std::vector<std::int64_t>& offsets() const { return offsets_; }
    const std::vector<std::uint8_t>& values() const { return values_; }

private:
    std::vector<std::int64_t> offsets_; // ascending
    std::vector<std::uint8_t> values_;
};

// An input file that reads through a patch (and may be read from several threads when the
// file under it may).
std::unique_ptr<platform::input_file> make_patched_input(std::unique_ptr<platform::input_file> file,
                                                         std::shared_ptr<const byte_patch> patch);

// Opens `path` once, and hands every open of it a view of that one descriptor with a position of
// its own, for the many runs of one file (when the file can be read from several threads; else
// each open is a new one). Everything else goes to `reads`.
class shared_open_file_system final : public platform::file_system {
public:
    shared_open_file_system(platform::file_system& reads, std::string path) : reads_(reads), path_(std::move(path)) {}

    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override;
    platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string& path,
                                                                        platform::write_mode mode) override {
        return reads_.open_write(path, mode);
    }
    platform::status make_dir(const std::string& path) override { return reads_.make_dir(path); }
    bool exists(const std::string& path) override { return reads_.exists(path); }
    platform::status rename_no_replace(const std::string& from, const std::string& to) override {
        return reads_.rename_no_replace(from, to);
    }
    platform::entry_kind kind_of(const std::string& path) override { return reads_.kind_of(path); }

private:
    platform::file_system& reads_;
    std::string path_;
    std::mutex mutex_;
    std::shared_ptr<platform::input_file> shared_;
};

// Reads `path` through the patch and every other path as `reads` has it; folders and files
// written are held in memory (files as byte counts only) and never reach a disk.
class injecting_file_system final : public platform::file_system {
public:
    injecting_file_system(platform::file_system& reads, std::string path, std::shared_ptr<const byte_patch> patch);

    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override;
    platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string& path,
                                                                        platform::write_mode mode) override;
    platform::status make_dir(const std::string& path) override;
    bool exists(const std::string& path) override;
    platform::status rename_no_replace(const std::string& from, const std::string& to) override;
    platform::entry_kind kind_of(const std::string& path) override;
    bool concurrent_writes() override { return true; } // under mutex_

    // Bytes written so far (all dropped).
    std::int64_t bytes_written() const;

private:
    platform::file_system& reads_;
    std::string path_;
    std::shared_ptr<const byte_patch> patch_;
    mutable std::mutex mutex_; // snapshots may be written from several threads
    std::set<std::string> dirs_;
    std::set<std::string> files_;
    std::int64_t written_ = 0;
};

} // namespace serflash::sensitivity
