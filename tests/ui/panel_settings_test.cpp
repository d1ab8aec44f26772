#include "ui/panel_settings.h"

#include "ui/control_ids.h"
#include "ui/main_dialog.h"
#include "ui/panel_defaults.h"
#include "ui/setting_table.h"

#include <tuple>

#include <gtest/gtest.h>

namespace serflash::detect {
namespace {

namespace id = ui::id;

ui::dialog_fields panel_defaults() {
    ui::dialog_fields f;
    ui::set_panel_defaults(f);
    return f;
}

// The panel at start-up and a freshly listed row scan with the engine's defaults.
TEST(LoadScanSettings, PanelAndRowDefaultsAreTheEngineDefaults) {
    for (const auto& [frames, depth, shift] : {std::tuple{1000, 16, 0}, {150, 8, 0}, {30000, 16, 4}, {0, 16, 8}}) {
        ui::scan_table t;
        t.insert_row(ui::default_row("a.ser", frames, depth, shift));
        t.list_file = 1;
        const scan_settings got = ui::load_scan_settings(t, 0, panel_defaults());
        const scan_settings want = default_settings(frames, depth, shift);
        EXPECT_TRUE(got == want) << frames << " frames, depth " << depth;
    }
}

TEST(LoadScanSettings, TakesRowAndPanelValues) {
    ui::scan_table t;
    t.insert_row(ui::default_row("a.ser", 1000, 16, 0));
    t.list_file = 1;
    t.insert_row(ui::default_row("b.ser", 150, 8, 0));
    t.list_file = 2;
    auto f = panel_defaults();
    f.set_int(id::PCT_LEFT, 11);
    f.set_int(id::PCT_RIGHT, 12);
    f.set_int(id::PCT_TOP, 13);
    f.set_int(id::PCT_BOTTOM, 14);
    f.set_int(id::SCATTER_H, 77);
    EXPECT_FALSE(ui::load_scan_settings(t, 0, f).continue_after_scatter);
    EXPECT_FALSE(ui::load_scan_settings(t, 0, f).complete); // "Examine every frame" is off at start
    f.set_checked(id::CONTINUE_AFTER_SCATTER, true);
    f.set_checked(id::EXAMINE_EVERY_FRAME, true);

    const auto a = ui::load_scan_settings(t, 0, f);
    EXPECT_EQ(a.start_frame, 0);
    EXPECT_EQ(a.end_frame, 999);
    EXPECT_EQ(a.max_det_frames, 11);
    EXPECT_EQ(a.packet_size, 200);
    EXPECT_EQ(a.blue_level, 500);
    EXPECT_EQ(a.red_level, 3800);
    EXPECT_EQ(a.brightness, 4);
    EXPECT_EQ(a.threshold, 60);
    EXPECT_EQ(a.threshold_step, 3);
    EXPECT_EQ(a.pct_left, 11);
    EXPECT_EQ(a.pct_right, 12);
    EXPECT_EQ(a.pct_top, 13);
    EXPECT_EQ(a.pct_bottom, 14);
    EXPECT_EQ(a.scatter_v, 20);
    EXPECT_EQ(a.scatter_h, 77);
    EXPECT_TRUE(a.continue_after_scatter);
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.complete_threshold, 45);

    // Every row value is read anew for the next file.
    const auto b = ui::load_scan_settings(t, 1, f);
    EXPECT_EQ(b.end_frame, 149);
    EXPECT_EQ(b.packet_size, 150);
    EXPECT_EQ(b.red_level, 255);
    EXPECT_EQ(b.brightness, 1000);
}

TEST(LoadScanSettings, PanelTextRules) {
    ui::scan_table t;
    t.insert_row(ui::default_row("a.ser", 100, 16, 0));
    t.list_file = 1;
    t.set_cell(0, ui::col_max, "12abc");
    auto f = panel_defaults();
    f.set_text(id::THRESHOLD_STEP, "");
    f.set_text(id::INITIAL_THRESHOLD, "6O"); // a letter O: not a number
    f.set_int(id::MASK_FIELDS[1][0], 65536 + 5);
    f.set_int(id::MASK_FIELDS[1][1], -1);
    f.set_int(id::MASK_FIELDS[1][2], 65535); // low 16 bits as signed: -1
    f.set_int(id::MASK_FIELDS[1][3], 300);
    const auto s = ui::load_scan_settings(t, 0, f);
    EXPECT_EQ(s.max_det_frames, 12);
    EXPECT_EQ(s.threshold_step, 0);
    EXPECT_EQ(s.threshold, 0);
    EXPECT_EQ(point_x(s.mask_ul[1]), 5);
    EXPECT_EQ(point_y(s.mask_ul[1]), -1);
    EXPECT_EQ(point_x(s.mask_lr[1]), -1);
    EXPECT_EQ(point_y(s.mask_lr[1]), 300);
    EXPECT_EQ(s.mask_ul[0], 0);
}

// Site, rotation and mirror: the command line's rules, empty meaning not given, and what cannot
// be used named before a scan.
TEST(MoonSetup, FieldsAreCheckedAsTheCommandLineChecksItsOptions) {
    std::string error;
    EXPECT_EQ(ui::parse_rotation(" -12.5 ", error), -12.5);
    EXPECT_EQ(ui::parse_rotation("370", error), 370.0);
    for (const char* bad : {"", "abc", "12x", "1,5", "inf", "nan", "1e400", "--3"}) {
        EXPECT_EQ(ui::parse_rotation(bad, error), std::nullopt) << bad;
        EXPECT_NE(error.find("number of degrees"), std::string::npos) << bad;
    }
    const ui::setup_rule* site = ui::setup_for_field(id::SITE);
    const ui::setup_rule* turn = ui::setup_for_field(id::ROTATION);
    ASSERT_TRUE(site != nullptr && turn != nullptr && ui::setup_for_field(id::MIRROR) != nullptr);
    EXPECT_EQ(site->flag, "--site");
    EXPECT_EQ(site->problem(""), "");
    EXPECT_EQ(site->problem("48.2,16.4,200"), "");
    EXPECT_NE(site->problem("100,0,0").find("latitude"), std::string::npos);
    EXPECT_NE(turn->problem("north"), "");

    ui::dialog_fields f = panel_defaults();
    report::moon_options m = ui::read_moon_options(f);
    EXPECT_FALSE(m.requested()); // nothing given at start
    f.set_text(id::SITE, "48.2,16.4,200");
    f.set_text(id::ROTATION, "164");
    f.set_checked(id::MIRROR, true);
    m = ui::read_moon_options(f);
    ASSERT_TRUE(m.site.has_value());
    EXPECT_DOUBLE_EQ(m.site->lon_deg, 16.4);
    EXPECT_EQ(m.rotation_deg, 164.0);
    EXPECT_TRUE(m.mirror);
    EXPECT_TRUE(ui::field_problems(f).empty());
    f.set_text(id::SITE, "48.2,16.4");
    f.set_text(id::ROTATION, "up");
    EXPECT_EQ(ui::field_problems(f).size(), 2U);
    m = ui::read_moon_options(f);
    EXPECT_FALSE(m.site.has_value() || m.rotation_deg.has_value());
}

} // namespace
} // namespace serflash::detect
