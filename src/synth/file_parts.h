#pragma once
// What every made-up file shares, whatever its scene: the header, the time stamps after the
// frames, and an output into memory.
#include "platform/file_io.h"
#include "ser/ser_reader.h"
#include "synth/synth.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace serflash::synth {

// The header of a file with the size, depth, frame count and texts of p.
ser::ser_header file_header(const params& p);
// The time stamps of p as they follow the last frame (8 bytes each, low byte first).
std::vector<std::uint8_t> time_stamp_bytes(const params& p);

// Writes the file at path through fs with write, which closes it: empty, or what went wrong.
std::string write_whole_file(platform::file_system& fs, const std::string& path,
                             const std::function<bool(platform::output_file&)>& write);

class memory_output final : public platform::output_file {
public:
    explicit memory_output(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool write(const void* src, std::size_t n) override {
        const auto* p = static_cast<const std::uint8_t*>(src);
        bytes_.insert(bytes_.end(), p, p + n);
        return true;
    }
    bool close() override { return true; }

private:
    std::vector<std::uint8_t>& bytes_;
};

} // namespace serflash::synth
