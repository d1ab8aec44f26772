#include "cli/commands.h"
#include "cli/scan_options.h"
#include "cli/scan_runner.h"
#include "detect/snapshots.h"
#include "synth/synth.h"
#include "ui/control_ids.h"
#include "ui/main_dialog.h"
#include "ui/panel_settings.h"
#include "ui/scan_table.h"
#include "ui/setting_table.h"
#include "../ui/panel_fakes.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <sstream>

namespace serflash::cli {
namespace {

namespace fs = std::filesystem;

TEST(ScanCommand, EmptyValuesAreRefusedAndDashedNamesFollowDoubleDash) {
    CLI::App app;
    const auto commands = add_all_commands(app);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"scan", "--threshold", "", "a.ser"},
                                                 {"scan", "--dir", "", "a.ser"},
                                                 {"scan", "--mask0", "", "a.ser"},
                                                 {"info", ""}}) {
        CLI::App fresh;
        const auto fresh_commands = add_all_commands(fresh); // the options' values live in them
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        EXPECT_THROW(fresh.parse(reversed), CLI::ValidationError) << args[1];
    }
    std::vector<std::string> dashed = {"-dash.ser", "--", "3", "--max", "scan"}; // parse takes them last first
    EXPECT_NO_THROW(app.parse(dashed));
}

// The check step of each command: bad values get exit status 2 before any work, good ones 0,
// and neither writes a file.
TEST(CommandChecks, BadValuesAreRefusedBeforeAnyWork) {
    char tmpl[] = "/tmp/serflash_checks_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string out = std::string(tmpl) + "/out.ser";
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"scan", "--mask0", "1,2,x,4", "a.ser"}, 2},
        {{"scan", "--mask3", "-1,2,70000,4", "--start", "3", "a.ser"}, 0},
        {{"sensitivity", "--sigmas", "3:2:1", "a.ser"}, 2},
        {{"sensitivity", "--counts", "1:2000:1", "a.ser"}, 2},
        {{"sensitivity", "--sigmas", "4", "a.ser"}, 0},
        {{"synth", "--flash", "1,2", out}, 2},
        {{"synth", "--start", "2026-13-01T00:00:00", out}, 2},
        {{"synth", "--drop", "5,x", out}, 2},
        {{"synth", "--flash", "10,20,5,800,2", "--drop", "3", out}, 0},
        {{"info", "a.ser"}, 0},
    };
    for (const auto& [args, status] : cases) {
        CLI::App app;
        const auto commands = add_all_commands(app);
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        ASSERT_NO_THROW(app.parse(reversed)) << ::testing::PrintToString(args);
        int parsed = 0;
        for (const auto& [sub, command] : commands) {
            if (!sub->parsed()) continue;
            ++parsed;
            EXPECT_EQ(command.check ? command.check() : 0, status) << ::testing::PrintToString(args);
        }
        EXPECT_EQ(parsed, 1);
    }
    EXPECT_TRUE(fs::is_empty(tmpl));
    fs::remove_all(tmpl);
}

// The command line and the panel check a value by the same table: every boundary and a word
// are accepted or refused alike, by `scan` and by `sensitivity`.
TEST(ScanCommand, ValueRangesAreThePanelsRules) {
    for (const ui::setting_rule& rule : ui::scan_setting_table) {
        const std::int64_t below = std::int64_t{rule.min} - 1, above = std::int64_t{rule.max} + 1;
        for (const std::string& text : {std::to_string(below), std::to_string(rule.min), std::to_string(rule.max),
                                        std::to_string(above), std::string("abc"), std::string("12abc")}) {
            for (const char* command : {"scan", "sensitivity"}) {
                CLI::App app;
                const auto commands = add_all_commands(app);
                std::vector<std::string> args = {"a.ser", text, std::string(rule.flag), command}; // last first
                bool refused = false;
                try {
                    app.parse(args);
                } catch (const CLI::ParseError&) {
                    refused = true;
                }
                EXPECT_EQ(refused, !ui::value_problem(rule, text).empty())
                    << command << " " << rule.flag << " " << text;
            }
        }
    }
    EXPECT_NE(ui::value_problem(*ui::setting_for_column(ui::col_max), "abc")
                  .find("Max must be a whole number of at "
                        "least 1, not \"abc\""),
              std::string::npos);
    EXPECT_EQ(ui::value_problem(*ui::setting_for_field(ui::id::INITIAL_THRESHOLD), " 45 "), "");
}

TEST(ScanCommand, Rectangles) {
    EXPECT_EQ(parse_rectangle("1,-2,300,4"), (std::array<std::int32_t, 4>{1, -2, 300, 4}));
    EXPECT_FALSE(parse_rectangle("1,2,3"));
    EXPECT_FALSE(parse_rectangle("1,2,3,4,5"));
    EXPECT_FALSE(parse_rectangle("1,2,x,4"));
    EXPECT_FALSE(parse_rectangle("1,2,3,4 "));
}

class ScanFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/serflash_cli_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string make(const std::string& name, std::int32_t frames, std::int32_t depth = 16) {
        synth::params p = synth::default_params(depth);
        p.width = 24;
        p.height = 24;
        p.frames = frames;
        p.stars = 0;
        p.hot_pixels = 0;
        const std::string path = root_ + "/" + name;
        EXPECT_TRUE(synth::write_ser(platform::native_file_system(), path, p).ok);
        return path;
    }
    // A 48 x 48 clip of 40 frames with one flash in frame 12.
    std::string make_flash_clip() {
        synth::params p = synth::default_params(16);
        p.width = 48;
        p.height = 48;
        p.frames = 40;
        p.stars = 0;
        p.hot_pixels = 0;
        p.flashes = {{24, 24, 12, 900.0, 1}};
        const std::string path = root_ + "/m1.ser";
        EXPECT_TRUE(synth::write_ser(platform::native_file_system(), path, p).ok);
        return path;
    }
    std::string root_;
};

// A file scanned from the command line with no options gets the settings the desktop program
// scans it with after Add at start-up.
TEST_F(ScanFiles, JobsAreThoseOfTheDesktopProgram) {
    ui::testing::fake_platform platform;
    ui::testing::fake_folders folders;
    folders.dirs["/data"] = {};
    ui::testing::memory_files files;
    ui::main_dialog dlg(platform, folders, files);
    dlg.init();
    for (const auto& [name, frames, depth, shift] :
         {std::tuple{"m1.ser", 1000, 16, 0}, {"m2.ser", 150, 8, 3}, {"m3.ser", 30, 16, 6}}) {
        scan_request req;
        req.bit_shift = shift;
        const detect::scan_job job = job_for(req, make(name, frames, depth));
        ui::scan_table table;
        table.insert_row(ui::default_row(name, frames, depth, shift));
        table.list_file = 1;
        const detect::scan_settings panel = ui::load_scan_settings(table, 0, dlg.fields);
        EXPECT_TRUE(job.settings == panel) << name;
        EXPECT_EQ(job.bit_shift, shift);
        EXPECT_FALSE(job.switches.red || job.switches.blue || job.switches.stars);
    }
}

TEST_F(ScanFiles, GivenValuesReplaceTheDefaults) {
    scan_request req;
    req.settings.threshold = 72;
    req.settings.mask_lr[2] = detect::pack_point(7, -5);
    req.switches.stars = true;
    req.per_file.packet_size = 40;
    req.per_file.brightness = 9;
    const detect::scan_job job = job_for(req, make("m1.ser", 1000));
    EXPECT_EQ(job.settings.threshold, 72);
    EXPECT_EQ(job.settings.threshold_step, 3);
    EXPECT_EQ(detect::point_y(job.settings.mask_lr[2]), -5);
    EXPECT_EQ(job.settings.packet_size, 40);
    EXPECT_EQ(job.settings.brightness, 9);
    EXPECT_EQ(job.settings.end_frame, 999); // from the header
    EXPECT_EQ(job.settings.max_det_frames, 11);
    EXPECT_TRUE(job.switches.stars);
    // A file that cannot be read gets the values of an empty file; the scan then reports it.
    EXPECT_EQ(job_for(req, root_ + "/missing.ser").settings.end_frame, -1);
}

TEST_F(ScanFiles, MoreThanFortyFilesOneLineEachAndOneTimesMessage) {
    scan_request req;
    for (int k = 0; k < 41; ++k) req.files.push_back(make("f" + std::to_string(k) + ".ser", 4));
    req.files.push_back(root_ + "/missing.ser");
    req.files.push_back(make("deep.ser", 4, 8));
    req.dir = root_;
    std::ostringstream out, err;
    const scan_run run = run_scan_request(req, out, err, nullptr);
    ASSERT_EQ(run.files.size(), 43u);
    EXPECT_FALSE(run.all_scanned());
    EXPECT_EQ(run.files[40].outcome, detect::file_outcome::scanned);
    EXPECT_EQ(run.files[41].outcome, detect::file_outcome::failed);
    EXPECT_EQ(run.files[42].outcome, detect::file_outcome::scanned);
    const std::string o = out.str();
    EXPECT_EQ(std::count(o.begin(), o.end(), '\n'), 43);
    EXPECT_NE(o.find(root_ + "/Results_f40_s45_4: threshold 45, 0 frames with detections"), std::string::npos);
    const std::string e = err.str();
    EXPECT_NE(e.find("IDC_BUTTON_FILE_TO_FILE: Error: " + root_ + "/missing.ser"), std::string::npos);
    EXPECT_EQ(e.find("The scans of all SER files completed!"), e.rfind("The scans of all SER files completed!"));
    EXPECT_NE(e.find("completed!:\nMonth_Day "), std::string::npos);
}

// Every regular file under a folder with its bytes, by path inside it.
std::map<std::string, std::string> tree_of(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        out[fs::relative(e.path(), dir).string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return out;
}

TEST_F(ScanFiles, ARepeatedScanNeverTouchesEarlierResults) {
    const std::string path = make_flash_clip();
    scan_request req;
    req.files = {path};
    req.dir = root_;
    std::vector<std::string> dirs;
    std::map<std::string, std::string> second;
    for (int run = 0; run < 3; ++run) {
        std::ostringstream out, err;
        const scan_run r = run_scan_request(req, out, err, nullptr);
        ASSERT_EQ(r.files.size(), 1u);
        dirs.push_back(r.files[0].result_dir);
        if (run == 1) {
            second = tree_of(dirs[1]);
            // The final name is the first run's: the message says which folder exists.
            EXPECT_NE(err.str().find(dirs[0] + " already exists"), std::string::npos) << err.str();
        }
        if (run == 2) {
            EXPECT_NE(out.str().find("was taken by earlier results"), std::string::npos);
        }
    }
    EXPECT_EQ(dirs[1], root_ + "/Results_m1");
    EXPECT_EQ(dirs[2].rfind(root_ + "/Results_m1-2_s", 0), 0u) << dirs[2];
    EXPECT_GT(second.size(), 1u); // summary and snapshots
    EXPECT_EQ(tree_of(dirs[1]), second);
}

// The snapshot format chosen on the command line reaches the scan; each results line tells
// the space its folder takes.
TEST_F(ScanFiles, SnapshotFormatsAndTheSpaceEachFolderTakes) {
    const std::string path = make_flash_clip();
    for (const std::string format : {"png", "none", "bmp"}) {
        CLI::App app;
        scan_cli c;
        auto* cmd = app.add_subcommand("scan");
        add_output_options(cmd, c);
        add_detection_options(cmd, c);
        std::vector<std::string> args = {path, format, "--snapshots", "scan"}; // last first
        ASSERT_NO_THROW(app.parse(args));
        EXPECT_EQ(detect::snapshot_format_name(c.request.settings.snapshots), format);
        c.request.dir = root_ + "/" + format;
        fs::create_directories(c.request.dir);
        std::ostringstream out, err;
        const scan_run r = run_scan_request(c.request, out, err, nullptr);
        ASSERT_EQ(r.files.size(), 1u);
        const auto tree = tree_of(r.files[0].result_dir);
        std::size_t bytes = 0, pictures = 0;
        for (const auto& [name, content] : tree) {
            bytes += content.size();
            if (name.ends_with(".png") || name.ends_with(".bmp")) {
                ++pictures;
                EXPECT_TRUE(name.ends_with("." + format)) << name;
            }
        }
        std::set<std::string> named; // a pass repeated at a threshold writes its snapshots again
        for (const detect::saved_frame& f : r.files[0].frames) named.insert(detect::snapshot_name("", f));
        EXPECT_EQ(pictures, format == "none" ? 0u : named.size()) << format;
        EXPECT_GT(r.files[0].frames.size(), 0u);
        EXPECT_NE(out.str().find(", " + readable_size(bytes) + " in " + std::to_string(tree.size()) + " files"),
                  std::string::npos)
            << out.str();
    }
    EXPECT_EQ(readable_size(999), "999 bytes");
    EXPECT_EQ(readable_size(1500), "1.5 kB");
    EXPECT_EQ(readable_size(710'400'000), "710.4 MB");
    EXPECT_EQ(readable_size(4'700'000'000), "4.7 GB");
}

TEST_F(ScanFiles, NothingIsWrittenThroughALinkedResultsFolder) {
    const std::string path = make("m1.ser", 30);
    fs::create_directory(root_ + "/elsewhere");
    fs::create_directory_symlink(root_ + "/elsewhere", root_ + "/Results_m1");
    scan_request req;
    req.files = {path};
    req.dir = root_;
    std::ostringstream out, err;
    const scan_run r = run_scan_request(req, out, err, nullptr);
    EXPECT_TRUE(r.all_scanned());
    EXPECT_TRUE(fs::is_empty(root_ + "/elsewhere"));
    EXPECT_TRUE(fs::is_symlink(root_ + "/Results_m1"));
    EXPECT_EQ(r.files[0].result_dir.rfind(root_ + "/Results_m1-2_s", 0), 0u) << r.files[0].result_dir;
}

} // namespace
} // namespace serflash::cli
