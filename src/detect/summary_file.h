#pragma once
// The per-file summary text: written as a text-mode stream stores it on the program's home
// platform, so every "\n" written becomes CR LF in the file. Header lines that already end in
// "\r\n" are therefore stored as CR CR LF. Other bytes (such as the code page 932 colon
// 0x81 0x46) pass through unchanged.
#include "detect/format.h"
#include "detect/result_sink.h"
#include "detect/scan_settings.h"
#include "platform/file_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace serflash::detect {

class summary_file {
public:
    // Opens path for writing (truncate: mode "w") or appending (mode "a").
    static platform::result<std::unique_ptr<summary_file>> open(platform::file_system& fs, const std::string& path,
                                                                platform::write_mode mode);

    explicit summary_file(std::unique_ptr<platform::output_file> out);
    ~summary_file();
    summary_file(const summary_file&) = delete;
    summary_file& operator=(const summary_file&) = delete;

    // Writes text character for character, each "\n" stored as CR LF.
    void write(std::string_view text);
    // printf-style formatted text, then as write(). Output longer than 999 characters is cut,
    // as the fixed text buffers of the program's lines are.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Closes the file; false when anything written could not be stored (also earlier failures).
    bool close();
    // Stores what is written so far (it then survives the program being killed).
    bool flush();
    bool failed() const { return failed_; }
    // The system's reason for the first failure ("No space left on device"), when it tells one.
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<platform::output_file> out_;
    bool failed_ = false;
    std::string error_;
    void note_failure();
};

// The header block of the summary: SER header text, then the detection parameters (with a line
// for 16-bit samples taken high byte first, only when they are).
void write_summary_header(summary_file& out, const std::string& header_text, const scan_settings& s,
                          const mask_switches& sw, bool swap_bytes = false);

// The separator lines and blocks that the passes append.
void write_pass_header(summary_file& out, std::int32_t threshold);
void write_raise_block(summary_file& out, std::int32_t det_frames, std::int32_t det_count);
void write_closing_block(summary_file& out, std::int32_t det_frames, std::int32_t det_count);

// The summary lines of a saved frame's listed detections, each starting with "\n":
// number, frame, x, y, sample, mean and standard deviation (truncated), 10 characters each.
std::string detection_lines(const saved_frame& frame);

// The summary as a sink of the passes' records.
class summary_sink final : public result_sink {
public:
    explicit summary_sink(summary_file& out) : out_(out) {}
    void pass_started(std::int32_t threshold) override;
    void frame_saved(const saved_frame& frame) override;
    void threshold_raised(std::int32_t det_frames, std::int32_t det_count) override;
    void scan_finished(std::int32_t det_frames, std::int32_t det_count) override;

private:
    summary_file& out_;
};

} // namespace serflash::detect
