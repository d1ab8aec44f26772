#include "cli/commands.h"
#include "cli/option_checks.h"
#include "ser/frame_times.h"
#include "ser/ser_reader.h"
#include "ser/text_cp932.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace serflash::cli {
namespace {

struct info_options {
    std::vector<std::string> files;
    bool swap_bytes = false;
    double fps = 0.0;
};

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// The lines after the header's own: layout, byte order and frame times.
void describe_frames(ser::ser_reader& reader, const ser::frame_times& t, std::ostream& out) {
    out << "layout: " << reader.layout_text() << "\n";
    if (reader.depth() == 16)
        out << "byte order: " << (reader.swap_bytes() ? "high byte first (--swap-bytes)" : "low byte first") << "\n";
    if (const std::string warning = ser::byte_order_warning(reader); !warning.empty())
        out << "warning: " << warning << "\n";

    out << "time source: " << ser::time_source_name(t.source) << "\n";
    if (t.known()) {
        out << "first frame time: " << ser::format_utc(t.utc_ticks.front()) << "\n";
        out << "last frame time: " << ser::format_utc(t.utc_ticks.back()) << "\n";
    }
    if (t.frame_rate > 0)
        out << "frame rate: " << fixed(t.frame_rate, 3) << " frames per second (interval "
            << fixed(t.frame_interval * 1000.0, 3) << " ms)\n";
    if (t.source == ser::time_source::trailer || t.source == ser::time_source::trailer_local) {
        out << "dropped frames: " << t.dropped_frames;
        if (!t.gaps_after.empty()) {
            constexpr std::size_t listed = 10;
            out << " (gaps after frame";
            if (t.gaps_after.size() > 1) out << "s";
            for (std::size_t i = 0; i < t.gaps_after.size() && i < listed; ++i)
                out << (i == 0 ? " " : ", ") << t.gaps_after[i];
            if (t.gaps_after.size() > listed) out << ", ... " << t.gaps_after.size() << " gaps in all";
            out << ")";
        }
        out << "\n";
    }
    for (const std::string& note : t.notes) out << "note: " << note << "\n";
}

// Prints one file's description; false when the file cannot be opened or its frames not read.
bool describe(const std::string& path, const info_options& o, std::ostream& out, std::ostream& err) {
    auto file = platform::native_file_system().open_read(path);
    if (!file) {
        err << "serflash info: cannot open " << path << ": " << file.reason() << "\n";
        return false;
    }
    ser::ser_reader reader(std::move(file.value()));
    reader.set_swap_bytes(o.swap_bytes);
    reader.read_ser_header();
    const std::int64_t size = reader.file().size();

    out << "== " << path << " (" << size << " bytes)\n";
    out << ser::cp932_to_printable_utf8(reader.header_text());

    bool usable = true;
    if (size < ser::header_size)
        out << "warning: the file is shorter than the " << ser::header_size
            << "-byte SER header; the missing fields read as 0\n";
    if (const platform::status geometry = reader.check_geometry(); !geometry) {
        out << "problem: " << geometry.reason() << "; no frame of this file can be read\n";
        usable = false;
    } else {
        const std::int32_t depth = reader.depth();
        out << "frame size: " << reader.width() << " x " << reader.height() << " samples, " << reader.frame_bytes()
            << " bytes\n";
        if (depth != 8 && depth != 16) {
            out << "problem: " << depth << " bits per sample; only 8 and 16 can be read (frames show as black)\n";
            usable = false;
        }
        const std::int32_t present = reader.frames_present();
        out << "frames in the file: " << present << "\n";
        if (present < reader.frame_count()) {
            const std::int64_t partial = reader.data_bytes() - std::int64_t{present} * reader.frame_bytes();
            out << "warning: the header declares " << reader.frame_count() << " frames but the file holds only "
                << present << " whole frames";
            if (partial > 0) out << " and " << partial << " bytes of a cut-off frame";
            out << " (capture cut short?)\n";
        } else if (reader.frame_count() <= 0 && present > 0) {
            out << "warning: the header declares " << reader.frame_count() << " frames; the file holds " << present
                << " whole frames\n";
        }
        const ser::frame_times t = ser::read_frame_times(reader, o.fps);
        // The time stamps after the frames are read (the time source says so); only what
        // follows them is not.
        const bool stamped = t.source == ser::time_source::trailer || t.source == ser::time_source::trailer_local;
        const std::int64_t stamps = stamped ? std::int64_t{reader.frame_count()} * 8 : 0;
        if (const std::int64_t extra = reader.trailing_bytes() - stamps; extra > 0)
            out << "warning: " << extra
                << (stamped ? " bytes follow the time stamps; they are not read\n"
                            : " bytes follow the last frame (time stamps or other data); they are not read\n");
        describe_frames(reader, t, out);
    }
    return usable;
}

} // namespace

command_runner add_info_command(CLI::App& app) {
    auto* cmd = app.add_subcommand("info", "Show the header of SER files and how many frames they really hold");
    auto o = std::make_shared<info_options>();
    cmd->add_option("files", o->files, "SER files to describe")->required();
    cmd->add_flag("--swap-bytes", o->swap_bytes,
                  "Take 16-bit samples high byte first (for files whose samples look byte-swapped)");
    cmd->add_option("--fps", o->fps,
                    "Frame rate for estimating frame times from the header's start when the file has no "
                    "usable time stamps")
        ->check(frame_rate_check());
    cmd->footer(
        "Text fields are shown converted from the Japanese Windows code page (932); bytes that do not "
        "convert are shown as \\xNN. The exit status is 1 when a file cannot be opened or its frames "
        "cannot be read.");
    return {nullptr, [o] {
                bool all_ok = true;
                for (const std::string& path : o->files) all_ok = describe(path, *o, std::cout, std::cerr) && all_ok;
                return all_ok ? 0 : 1;
            }};
}

} // namespace serflash::cli
