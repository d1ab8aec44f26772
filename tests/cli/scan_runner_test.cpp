#include "cli/scan_runner.h"
#include "synth/synth.h"
#include "ui/control_ids.h"
#include "ui/main_dialog.h"
#include "ui/scan_table.h"
#include "../ui/panel_fakes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace serflash::cli {
namespace {

namespace fs = std::filesystem;

TEST(ScanCommand, PanelStartsFromTheDesktopDefaults) {
    ui::testing::fake_platform platform;
    ui::testing::fake_folders folders;
    folders.dirs["/data"] = {};
    ui::testing::memory_files files;
    ui::main_dialog dlg(platform, folders, files);
    dlg.init();
    const ui::dialog_fields cli = panel_fields({});
    for (int id = 1000; id < 1200; ++id) {
        if (id == ui::id::FOLDER_NAME) continue; // the folder listed, not a setting
        EXPECT_EQ(cli.text(id), dlg.fields.text(id)) << id;
        EXPECT_EQ(cli.checked(id), dlg.fields.checked(id)) << id;
    }
}

TEST(ScanCommand, TypedValuesReachTheFields) {
    scan_request req;
    req.bit_shift = 4;
    req.field_values = {{ui::id::INITIAL_THRESHOLD, 72}, {ui::id::MASK_FIELDS[2][3], -5}};
    req.switches = {{ui::id::MASK_STARS_ON, true}};
    const ui::dialog_fields f = panel_fields(req);
    EXPECT_EQ(f.get_int(ui::id::INITIAL_THRESHOLD), 72);
    EXPECT_EQ(f.get_int(ui::id::MASK_FIELDS[2][3]), -5);
    EXPECT_EQ(f.get_int(ui::id::BIT_SHIFT), 4);
    EXPECT_TRUE(f.checked(ui::id::MASK_STARS_ON));
    EXPECT_FALSE(f.checked(ui::id::MASK_RED_ON));
    EXPECT_EQ(f.get_int(ui::id::THRESHOLD_STEP), 3);
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
    std::string root_;
};

TEST_F(ScanFiles, RowsAsAddGivesThem) {
    EXPECT_EQ(row_for(make("m1.ser", 1000), 0),
              (std::array<std::string, 10>{"", "m1.ser", "1000", "0", "999", "11", "200", "500", "3800", "4"}));
    EXPECT_EQ(row_for(make("m2.ser", 150, 8), 3),
              (std::array<std::string, 10>{"", "m2.ser", "150", "0", "149", "2", "150", "0", "255", "1000"}));
}

TEST_F(ScanFiles, MoreThanFortyFilesOneLineEachAndOneTimesMessage) {
    scan_request req;
    for (int k = 0; k < 41; ++k) req.files.push_back(make("f" + std::to_string(k) + ".ser", 4));
    req.files.push_back(root_ + "/missing.ser");
    req.files.push_back(make("deep.ser", 4, 8));
    req.dir = root_;
    std::ostringstream out, err;
    const scan_run run = run_scan_request(req, out, err, false);
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

} // namespace
} // namespace serflash::cli
