#include "cli/commands.h"
#include "ser/text_cp932.h"
#include "ser/ser_reader.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace serflash::cli {
namespace {

// Prints one file's description; false when the file cannot be opened or its frames not read.
bool describe(const std::string& path, std::ostream& out, std::ostream& err) {
    std::string why;
    auto file = platform::native_file_system().open_read(path, &why);
    if (!file) {
        err << "serflash info: cannot open " << path << ": " << why << "\n";
        return false;
    }
    ser::ser_reader reader(std::move(file));
    reader.read_ser_header();
    const std::int64_t size = reader.file().size();

    out << "== " << path << " (" << size << " bytes)\n";
    out << ser::cp932_to_printable_utf8(reader.header_text());

    bool usable = true;
    if (size < ser::header_size)
        out << "warning: the file is shorter than the " << ser::header_size
            << "-byte SER header; the missing fields read as 0\n";
    const std::string problem = reader.check_geometry();
    if (!problem.empty()) {
        out << "problem: " << problem << "; no frame of this file can be read\n";
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
        if (const std::int64_t extra = reader.trailing_bytes(); extra > 0)
            out << "warning: " << extra
                << " bytes follow the last frame (time stamps or other data); they are not read\n";
    }
    return usable;
}

} // namespace

command_runner add_info_command(CLI::App& app) {
    auto* cmd = app.add_subcommand("info", "Show the header of SER files and how many frames they really hold");
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("files", *files, "SER files to describe")->required();
    cmd->footer(
        "Text fields are shown converted from the Japanese Windows code page (932); bytes that do not "
        "convert are shown as \\xNN. The exit status is 1 when a file cannot be opened or its frames "
        "cannot be read.");
    return [files] {
        bool all_ok = true;
        for (const std::string& path : *files) all_ok = describe(path, std::cout, std::cerr) && all_ok;
        return all_ok ? 0 : 1;
    };
}

} // namespace serflash::cli
