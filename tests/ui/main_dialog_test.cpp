#include "detect/memory_fs.h"
#include "panel_fakes.h"
#include "ui/control_ids.h"

#include <gtest/gtest.h>

namespace serflash::ui {
namespace {

using testing::panel;
using testing::ser_file;
using cells = std::array<std::string, column_count>;

TEST(PanelStartUp, EveryFieldHasItsDefault) {
    panel p;
    p.put("m1.ser", ser_file(4, 4, 16, 2));
    p.folders.dirs["/data"].push_back({"notes.txt", false});
    p.folders.dirs["/data"].push_back({"night1", true});
    p.start();
    const auto& f = p.dlg.fields;
    EXPECT_EQ(f.text(id::BIT_SHIFT), "0");
    EXPECT_EQ(f.text(id::INITIAL_THRESHOLD), "60");
    EXPECT_EQ(f.text(id::THRESHOLD_STEP), "3");
    for (int i : {id::PCT_TOP, id::PCT_BOTTOM, id::PCT_LEFT, id::PCT_RIGHT}) EXPECT_EQ(f.text(i), "25") << i;
    for (const auto& mask : id::MASK_FIELDS)
        for (int i : mask) EXPECT_EQ(f.text(i), "0") << i;
    for (int i : {id::RED_MASK_HALF, id::BLUE_MASK_HALF, id::STAR_MASK_HALF, id::STAR_HALF_WIDTH})
        EXPECT_EQ(f.text(i), "10") << i;
    EXPECT_EQ(f.text(id::STAR_THRESHOLD), "30");
    EXPECT_EQ(f.text(id::SCATTER_V), "20");
    EXPECT_EQ(f.text(id::SCATTER_H), "100");
    EXPECT_TRUE(f.checked(id::ZOOM_FIT));
    EXPECT_TRUE(f.checked(id::MASK_SELECT_0));
    for (int i : {id::ZOOM_100, id::ZOOM_200, id::ZOOM_400, id::ZOOM_50, id::ZOOM_33, id::ZOOM_25, id::MASK_SELECT_1,
                  id::MASK_SELECT_2, id::MASK_SELECT_3, id::MASK_RED_ON, id::MASK_BLUE_ON, id::MASK_STARS_ON,
                  id::SHOW_RED_BLUE, id::SHOW_MASK_AREAS})
        EXPECT_FALSE(f.checked(i)) << i;
    for (int i : {id::FRAME_NO, id::IMAGE_WIDTH, id::IMAGE_HEIGHT, id::READOUT_X, id::READOUT_Y, id::READOUT_VALUE,
                  id::THRESHOLD_AT_PRESENT})
        EXPECT_EQ(f.text(i), "") << i;
    EXPECT_EQ(f.text(id::FOLDER_NAME), "/data");
    // *.ser files, folders and roots, each told apart; other files are not listed.
    EXPECT_GE(p.entry("m1.ser"), 0);
    EXPECT_GE(p.entry("[night1]"), 0);
    EXPECT_GE(p.entry("[..]"), 0);
    EXPECT_GE(p.entry("[-/-]"), 0);
    EXPECT_GE(p.entry("[-/home/obs-]"), 0);
    EXPECT_EQ(p.entry("notes.txt"), -1);
    EXPECT_EQ(p.dlg.table.list_file, 0);
    EXPECT_FALSE(p.platform.window_open);
}

// Files come before the folders, however many results folders there are; a listing made again
// (the folder changed) shows the new file and keeps the entry chosen.
TEST(FolderList, FilesFirstAndAListingMadeAgainKeepsTheChoice) {
    panel p;
    p.put("z.ser", ser_file(4, 4, 16, 2));
    p.folders.dirs["/data"].push_back({"Results_a", true});
    p.folders.dirs["/data"].push_back({"Results_b", true});
    p.start();
    EXPECT_EQ(p.entry("z.ser"), 0);
    EXPECT_GT(p.entry("[Results_a]"), p.entry("z.ser"));
    p.dlg.select_folder_entry(p.entry("[Results_b]"));
    p.folders.dirs["/data"].push_back({"a.ser", false});
    p.dlg.relist();
    EXPECT_EQ(p.entry("a.ser"), 0);
    EXPECT_EQ(p.dlg.folder_selection(), p.entry("[Results_b]"));
}

TEST(FolderList, EnteringFoldersListsEverythingAndMovesTheCurrentDirectory) {
    panel p;
    p.folders.dirs["/data/night1"] = {{"a.ser", false}, {"b.avi", false}, {".hidden", false}};
    p.folders.dirs["/data"].push_back({"night1", true});
    p.start();
    p.dlg.folder_double_click(p.entry("[night1]"));
    EXPECT_EQ(p.folders.cwd, "/data/night1");
    EXPECT_EQ(p.dlg.fields.text(id::FOLDER_NAME), "/data/night1");
    EXPECT_GE(p.entry("a.ser"), 0);
    EXPECT_GE(p.entry("b.avi"), 0);
    EXPECT_EQ(p.entry(".hidden"), -1);
    p.dlg.folder_double_click(p.entry("[..]"));
    EXPECT_EQ(p.folders.cwd, "/data");
    p.folders.dirs["/"] = {};
    p.dlg.folder_double_click(p.entry("[-/-]"));
    EXPECT_EQ(p.dlg.fields.text(id::FOLDER_NAME), "/");
    EXPECT_EQ(p.entry("[..]"), -1); // the root has no parent
    p.platform.folder_choice = "/nowhere";
    p.dlg.command(id::OPEN_FOLDER);
    ASSERT_EQ(p.platform.messages.size(), 1U);
    EXPECT_EQ(p.dlg.fields.text(id::FOLDER_NAME), "/"); // unchanged
    p.platform.folder_choice.reset();
    p.dlg.command(id::OPEN_FOLDER); // cancelled
    EXPECT_EQ(p.platform.messages.size(), 1U);
}

TEST(AddFile, RowDefaultsWindowAndFirstFrame) {
    panel p;
    p.put("m1.ser", ser_file(40, 30, 16, 1000));
    p.put("m2.ser", ser_file(8, 6, 8, 150));
    p.start();
    p.dlg.fields.check_radio(id::ZOOM_100, id::ZOOM_25, id::ZOOM_50);
    p.add("m1.ser");
    EXPECT_EQ(p.dlg.table.rows[0].cells, (cells{"1", "m1.ser", "1000", "0", "999", "11", "200", "500", "3800", "4"}));
    EXPECT_EQ(p.dlg.table.file_path[0], "/data/m1.ser");
    EXPECT_EQ(p.platform.caption, "/data/m1.ser");
    // Each file starts fitted, at most 100%, whatever the size chosen before.
    EXPECT_TRUE(p.dlg.fields.checked(id::ZOOM_FIT));
    EXPECT_EQ(p.platform.client_w, 40);
    EXPECT_EQ(p.platform.client_h, 30);
    EXPECT_TRUE(p.dlg.image_room(20, 100)); // the window has room for 20 columns
    EXPECT_EQ(p.dlg.view.client_w(), 20);
    EXPECT_EQ(p.dlg.view.client_h(), 15);
    check_display_size(p.dlg.fields, {false, {1, 2}});
    p.dlg.zoom_changed();
    EXPECT_EQ(p.dlg.view.client_w(), 20);   // 40 / 2, no margin
    EXPECT_FALSE(p.dlg.image_room(10, 10)); // not fitting now
    EXPECT_TRUE(p.dlg.zoom_steps(2));       // 50% -> 100% -> 200%
    EXPECT_EQ(p.dlg.view.client_w(), 80);
    EXPECT_TRUE(p.dlg.fields.checked(id::ZOOM_200));
    EXPECT_TRUE(p.dlg.zoom_steps(5));
    EXPECT_EQ(p.dlg.view.client_w(), 160); // 400% at most
    EXPECT_FALSE(p.dlg.zoom_steps(1));
    EXPECT_EQ(p.dlg.fields.text(id::IMAGE_WIDTH), "40");
    EXPECT_EQ(p.dlg.fields.text(id::IMAGE_HEIGHT), "30");
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "0");
    EXPECT_EQ(p.dlg.frame_buf()[3 * 40 + 5], 8);              // frame 0 at (5, 3)
    EXPECT_EQ(p.dlg.display().disp_buf[(3 * 40 + 5) * 4], 0); // 8 x 4 / 1000 truncates to 0
    p.dlg.fields.set_text(id::BIT_SHIFT, "5");                // ignored for 8-bit files
    p.add("m2.ser");
    EXPECT_EQ(p.dlg.table.rows[1].cells, (cells{"1", "m2.ser", "150", "0", "149", "2", "150", "0", "255", "1000"}));
    EXPECT_EQ(p.dlg.table.rows[0].cells[col_mark], "");
    EXPECT_EQ(p.dlg.table.list_file, 2);
    EXPECT_EQ(p.platform.windows_created, 2);
    EXPECT_TRUE(p.platform.messages.empty());
}

// A colour file's caption says it is scanned as one plane of the mean of its colours.
TEST(AddFile, ColourFilesSayHowTheyAreRead) {
    panel p;
    std::vector<std::uint8_t> rgb = ser_file(8, 6, 16, 10);
    rgb[18] = 100; // ColorID: RGB, three samples per pixel
    rgb.resize(rgb.size() + std::size_t{2} * 8 * 6 * 2 * 10, 0);
    std::vector<std::uint8_t> bayer = ser_file(8, 6, 16, 10);
    bayer[18] = 8; // RGGB mosaic: one plane
    p.put("rgb.ser", rgb);
    p.put("bayer.ser", bayer);
    p.put("mono.ser", ser_file(8, 6, 16, 10));
    p.start();
    p.add("rgb.ser");
    EXPECT_EQ(p.platform.caption, "/data/rgb.ser (RGB, scanned as the mean of its three colours)");
    EXPECT_EQ(p.dlg.table.rows[0].cells[2], "10");
    p.add("bayer.ser");
    EXPECT_EQ(p.platform.caption, "/data/bayer.ser (Bayer RGGB (one plane))");
    p.add("mono.ser");
    EXPECT_EQ(p.platform.caption, "/data/mono.ser");
}

TEST(AddFile, TypedBitShiftGivesTheBrightnessAndStaysReadable) {
    panel p;
    p.put("m.ser", ser_file(4, 4, 16, 3));
    p.start();
    const std::pair<const char*, const char*> cases[] = {
        {"3", "31"}, {"8", "1000"}, {"10", "4000"}, {"99", "128000"}, {"-4", "4"}};
    for (const auto& [typed, brt] : cases) {
        p.dlg.fields.set_text(id::BIT_SHIFT, typed);
        p.add("m.ser");
        EXPECT_EQ(p.dlg.table.cell(p.dlg.table.list_file - 1, col_brt), brt) << typed;
        EXPECT_GE(p.dlg.bit_shift(), 0);
        EXPECT_LE(p.dlg.bit_shift(), 15);
    }
}

TEST(AddFile, FailuresAddNoRow) {
    panel p;
    p.put("gone.ser", {});
    p.folders.dirs["/data"].push_back({"sub", true});
    p.start();
    p.files.files.erase("/data/gone.ser");
    p.add("gone.ser");
    ASSERT_EQ(p.platform.messages.size(), 1U);
    EXPECT_EQ(p.platform.messages[0],
              std::make_pair(std::string("Add a file"), std::string("The file cannot be opened:\n/data/gone.ser\nNo "
                                                                    "such file or directory")));
    EXPECT_EQ(p.platform.icons[0], box_icon::error);
    EXPECT_EQ(p.dlg.table.list_file, 0);
    EXPECT_TRUE(p.dlg.table.rows.empty());

    p.dlg.select_folder_entry(p.entry("[sub]")); // a folder is no file
    p.dlg.command(id::IDC_BUTTON_ADD);
    EXPECT_EQ(p.platform.messages.size(), 2U);

    p.dlg.fields.set_text(id::FOLDER_NAME, "/" + std::string(252, 'd')); // 253 + "/" + 8 > 259
    p.dlg.select_folder_entry(p.entry("gone.ser"));
    p.dlg.command(id::IDC_BUTTON_ADD);
    ASSERT_EQ(p.platform.messages.size(), 3U);
    EXPECT_NE(p.platform.messages[2].second.find("259"), std::string::npos);
    EXPECT_TRUE(p.dlg.table.rows.empty());

    p.files.files["/data/gone.ser"] = ser_file(0, 5, 16, 2); // no width: cannot be shown
    p.dlg.fields.set_text(id::FOLDER_NAME, "/data");
    p.dlg.command(id::IDC_BUTTON_ADD);
    EXPECT_EQ(p.platform.messages.size(), 4U);
    EXPECT_TRUE(p.dlg.table.rows.empty());
    EXPECT_FALSE(p.dlg.file_open());
}

TEST(AddFile, TheFortyFirstIsShownButNotListed) {
    panel p;
    for (int i = 0; i < 42; ++i) p.put("f" + std::to_string(100 + i) + ".ser", ser_file(4, 4, 16, 2));
    p.start();
    for (int i = 0; i < 40; ++i) p.add("f" + std::to_string(100 + i) + ".ser");
    EXPECT_EQ(p.dlg.table.find_marked_row(), 39);
    p.add("f140.ser");
    ASSERT_EQ(p.platform.messages.size(), 1U);
    EXPECT_EQ(p.platform.messages[0].first, "Add a file");
    EXPECT_EQ(
        p.platform.messages[0].second,
        "The table already holds 40 files, the most one scan takes.\nThis file is shown but will not be scanned.");
    EXPECT_EQ(p.platform.icons[0], box_icon::warning);
    EXPECT_EQ(p.dlg.table.list_file, 40);
    EXPECT_EQ(p.dlg.table.find_marked_row(), 39);
    EXPECT_EQ(p.dlg.table.file_path[40], "/data/f140.ser");
    EXPECT_EQ(p.platform.caption, "/data/f140.ser");
    p.add("f141.ser");
    ASSERT_EQ(p.dlg.table.rows.size(), 42U);
    EXPECT_EQ(p.dlg.table.cell(40, col_name), "f141.ser"); // each one lands at position 40
    EXPECT_EQ(p.dlg.table.cell(41, col_name), "f140.ser");
    const int windows = p.platform.windows_created;
    p.dlg.table_double_click(50, 41); // an uncounted row reads nothing outside the table
    p.dlg.table_double_click(430, 40);
    EXPECT_EQ(p.platform.windows_created, windows);
    EXPECT_EQ(p.platform.value_dialogs, 0);
}

struct edit_case {
    int col;
    const char* typed;
    bool accepted;
};

// Every value is checked by the rules of the settings table (the command line's) and the frame
// range; the dialog is told what is allowed and refuses the rest.
TEST(ValueEditing, AcceptsOnlyAllowedValuesThatKeepAPacketInRange) {
    panel p;
    p.put("m.ser", ser_file(4, 4, 16, 1000));
    p.start();
    p.add("m.ser");
    const edit_case cases[] = {
        {col_start, "800", true},  {col_start, "801", false}, {col_stop, "199", true},   {col_stop, "198", false},
        {col_stop, "1000", false}, {col_pack, "1000", true},  {col_pack, "1001", false}, {col_max, "12abc", false},
        {col_max, "abc", false},   {col_max, "0", false},     {col_max, " 12 ", true},   {col_pack, "0", false},
        {col_blue, "-5", false},   {col_red, "x", false},     {col_red, "65536", false}, {col_start, "-1", false},
        {col_brt, "7", true},
    };
    for (const auto& c : cases) {
        p.dlg.table.set_cell(0, col_start, "0");
        p.dlg.table.set_cell(0, col_stop, "999");
        p.dlg.table.set_cell(0, col_pack, "200");
        const std::string before = p.dlg.table.cell(0, c.col);
        p.platform.typed_value = c.typed;
        const int inside_column[column_count] = {10, 50, 150, 200, 250, 300, 340, 380, 420, 460};
        p.dlg.table_double_click(inside_column[c.col], 0);
        EXPECT_EQ(p.platform.value_shown, before) << c.col << " " << c.typed;
        EXPECT_EQ(p.dlg.table.cell(0, c.col), c.accepted ? c.typed : before) << c.col << " " << c.typed;
    }
    EXPECT_EQ(p.dlg.table.get_cell_int(0, col_max), 12);
    EXPECT_EQ(p.platform.value_allowed, "a whole number from 1 to 1000000"); // Brt, the last asked
    EXPECT_EQ(cell_problem(p.dlg.table, 0, col_start, "801"),
              "start must leave one packet of 200 frames before stop 999: at most 800");
    EXPECT_EQ(cell_problem(p.dlg.table, 0, col_max, "abc"), "Max must be a whole number of at least 1, not \"abc\"");
    p.platform.typed_value.reset(); // Cancel
    p.dlg.table_double_click(500, 0);
    EXPECT_EQ(p.dlg.table.cell(0, col_brt), "7");
    EXPECT_TRUE(p.platform.messages.empty()); // refusals are silent
}

TEST(TableDoubleClick, ColumnsByPosition) {
    EXPECT_EQ(column_at_x(0), 0);
    EXPECT_EQ(column_at_x(19), 0);
    EXPECT_EQ(column_at_x(20), 1);
    EXPECT_EQ(column_at_x(119), 1);
    EXPECT_EQ(column_at_x(120), 2);
    EXPECT_EQ(column_at_x(439), 8);
    EXPECT_EQ(column_at_x(440), 9);
    EXPECT_EQ(column_at_x(500), 9);

    panel p;
    p.put("a.ser", ser_file(6, 4, 16, 5));
    p.put("b.ser", ser_file(8, 4, 16, 5));
    p.start();
    p.add("a.ser");
    p.add("b.ser");
    p.platform.typed_value = "77";
    p.dlg.table_double_click(120, 0); // frames: nothing
    p.dlg.table_double_click(10, 0);  // mark: nothing
    p.dlg.table_double_click(50, -1); // below the rows: nothing
    EXPECT_EQ(p.platform.value_dialogs, 0);
    EXPECT_EQ(p.dlg.table.find_marked_row(), 1);
    p.dlg.table_double_click(119, 0); // the name shows that file
    EXPECT_EQ(p.dlg.table.find_marked_row(), 0);
    EXPECT_EQ(p.platform.caption, "/data/a.ser");
    EXPECT_EQ(p.platform.client_w, 6); // fitted again: 100% for a small file
    p.dlg.table_double_click(500, 0);
    EXPECT_EQ(p.platform.value_dialogs, 1);
    EXPECT_EQ(p.dlg.table.cell(0, col_brt), "77");
}

TEST(RemoveFile, MarkedOnlyAndOtherRows) {
    panel p;
    for (const char* n : {"a.ser", "b.ser", "c.ser"}) p.put(n, ser_file(4, 4, 16, 5));
    p.start();
    for (const char* n : {"a.ser", "b.ser", "c.ser"}) p.add(n);
    p.dlg.command(id::IDC_BUTTON_REMOVE); // no focused row
    EXPECT_EQ(p.dlg.table.list_file, 3);

    p.dlg.fields.set_text(id::FRAME_NO, "3");
    p.dlg.set_focused_row(0); // not the marked row
    p.dlg.command(id::IDC_BUTTON_REMOVE);
    EXPECT_EQ(p.dlg.table.list_file, 2);
    EXPECT_EQ(p.dlg.table.file_path[0], "/data/b.ser");
    EXPECT_EQ(p.dlg.table.file_path[1], "/data/c.ser");
    EXPECT_EQ(p.dlg.table.find_marked_row(), 1); // the mark moved with c.ser
    EXPECT_TRUE(p.platform.window_open);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "3");
    EXPECT_FALSE(p.dlg.table.rows[0].focused); // selection cleared

    p.dlg.set_focused_row(1);
    p.dlg.command(id::IDC_BUTTON_REMOVE);
    EXPECT_FALSE(p.platform.window_open);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "0");
    EXPECT_EQ(p.dlg.table.find_marked_row(), -1);

    p.dlg.table_double_click(50, 0); // show b.ser, then remove the only row
    p.dlg.set_focused_row(0);
    p.dlg.command(id::IDC_BUTTON_REMOVE);
    EXPECT_EQ(p.dlg.table.list_file, 0);
    EXPECT_FALSE(p.platform.window_open);
}

TEST(ShowFrame, ClampsTheFrameNumber) {
    panel p;
    p.put("m.ser", ser_file(4, 4, 16, 500));
    p.start();
    p.dlg.command(id::SHOW_FRAME); // nothing marked: nothing happens
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "");
    p.add("m.ser");
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "0"}, {"100000", "499"}, {"-7", "0"}, {"123", "123"}, {"", "0"}};
    for (const auto& [typed, shown] : cases) {
        p.dlg.fields.set_text(id::FRAME_NO, typed);
        p.dlg.command(id::SHOW_FRAME);
        EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), shown) << typed;
        const int k = std::stoi(shown);
        EXPECT_EQ(p.dlg.frame_buf()[1 * 4 + 2], (k * 7 + 3) & 0xFFFF) << typed;
    }
}

TEST(Steppers, FrameStepsAndBitShift) {
    panel p;
    p.put("m.ser", ser_file(4, 4, 16, 500));
    p.start();
    p.dlg.frame_stepper(id::STEP_50, -1); // no file yet: the field is not touched
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "");
    p.dlg.bit_shift_stepper(-1); // the bit shift still steps
    EXPECT_EQ(p.dlg.fields.text(id::BIT_SHIFT), "1");
    EXPECT_EQ(p.dlg.bit_shift(), 1);
    p.dlg.fields.set_text(id::BIT_SHIFT, "0");
    p.add("m.ser");
    p.dlg.frame_stepper(id::STEP_1, -1);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "1");
    p.dlg.frame_stepper(id::STEP_500, -1);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "499");
    p.dlg.frame_stepper(id::STEP_5000, 1);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "0");
    p.dlg.fields.set_text(id::FRAME_NO, "30");
    p.dlg.frame_stepper(id::STEP_50, 1);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "0");
    p.dlg.frame_stepper(id::STEP_50, -1);
    EXPECT_EQ(p.dlg.fields.text(id::FRAME_NO), "50");
    EXPECT_EQ(p.dlg.frame_buf()[0], 350);

    p.dlg.fields.set_text(id::BIT_SHIFT, "8");
    p.dlg.bit_shift_stepper(-1);
    EXPECT_EQ(p.dlg.fields.text(id::BIT_SHIFT), "8");
    EXPECT_EQ(p.dlg.frame_buf()[0], 350 >> 8); // re-read with the shift
    p.dlg.bit_shift_stepper(1);
    EXPECT_EQ(p.dlg.fields.text(id::BIT_SHIFT), "7");
    EXPECT_EQ(p.dlg.frame_buf()[0], 350 >> 7);
    p.dlg.fields.set_text(id::BIT_SHIFT, "0");
    p.dlg.bit_shift_stepper(1);
    EXPECT_EQ(p.dlg.fields.text(id::BIT_SHIFT), "0");
    EXPECT_EQ(p.dlg.table.cell(0, col_brt), "4"); // the row is not changed
}

// A file's failure reaches the closing box in plain words, with the system's reason and the
// file's name, where the message box of the failed open says only which call failed.
TEST(BatchNotes, AFailuresReasonReachesTheClosingBox) {
    panel p;
    p.put("m.ser", ser_file(24, 24, 16, 220));
    p.start();
    p.add("m.ser");
    const auto job = p.dlg.begin_batch();
    ASSERT_TRUE(job);
    detect::testing::memory_fs fs;
    fs.files = p.files.files;
    fs.dirs.insert("/out");
    int summary_opens = 0; // the header is written, then the passes cannot append to it
    fs.refuse_create = [&](const std::string& path) { return path.ends_with("_summary.txt") && ++summary_opens == 2; };
    detect::batch_request request;
    request.jobs = job->jobs;
    request.fs = &fs;
    request.results_parent = "/out";
    std::vector<detect::engine_message> told;
    request.hooks.message = [&](const detect::engine_message& m) {
        told.push_back(m);
        p.dlg.batch_message(m);
    };
    const detect::batch_report report = detect::run_batch(request);
    ASSERT_EQ(report.files.size(), 1U);
    EXPECT_EQ(report.files[0].outcome, detect::file_outcome::failed);
    ASSERT_EQ(told.size(), 2U); // the failure, then the closing message
    EXPECT_EQ(told[0].text, "Error in fopen_s(&fp2, detect_result_path, \"a\")");
    p.dlg.end_batch(report, {});
    const std::string& box = p.platform.messages.back().second;
    EXPECT_NE(box.find("m.ser: the summary file /out/Results_m/m_summary.txt could not be opened for appending "
                       "(Permission denied)"),
              std::string::npos)
        << box;
    EXPECT_EQ(box.find("fopen_s"), std::string::npos) << box;
    EXPECT_EQ(box.find("Month_Day"), std::string::npos) << box; // the closing box is the panel's own
}

// The panel goes by a message's kind, never by its caption or words: the closing message under
// any caption is no note, and a note under the closing message's caption is one.
TEST(BatchNotes, KindNotCaptionDecides) {
    panel p;
    p.put("m.ser", ser_file(4, 4, 16, 220));
    p.start();
    p.add("m.ser");
    ASSERT_TRUE(p.dlg.begin_batch());
    p.dlg.batch_message(detect::engine_message::closing(detect::caption_id::scan, "Month_Day 12_07  09h05m03s"));
    p.dlg.batch_message(detect::engine_message::note(detect::caption_id::completed, "a note\nof two lines"));
    detect::engine_message failure = detect::engine_message::failure(detect::caption_id::completed, "Error: x", "why");
    failure.file = 0;
    p.dlg.batch_message(failure);
    EXPECT_EQ(p.dlg.batch_notes(), (std::vector<std::string>{"a note of two lines", "m.ser: why"}));
}

TEST(BatchStart, RefusesWhatCannotBeScanned) {
    panel p;
    p.put("m.ser", ser_file(4, 4, 16, 300));
    p.start();
    EXPECT_FALSE(p.dlg.begin_batch());
    ASSERT_EQ(p.platform.messages.size(), 1U);
    EXPECT_EQ(p.platform.messages[0].first, "Start scan");
    EXPECT_EQ(p.platform.messages[0].second, "There is no file to scan: add one first.");

    p.add("m.ser");
    p.dlg.fields.set_text(id::READOUT_X, "5");
    for (const char* pack : {"0", "-3"}) {
        p.dlg.table.set_cell(0, col_pack, pack); // as a stored table might hold
        EXPECT_NE(row_problem(p.dlg.table, 0, p.dlg.fields), "");
        EXPECT_FALSE(p.dlg.begin_batch());
        EXPECT_NE(p.platform.messages.back().second.find("pack."), std::string::npos);
    }
    p.dlg.table.set_cell(0, col_pack, "200");
    p.dlg.table.set_cell(0, col_start, "-1");
    EXPECT_FALSE(p.dlg.begin_batch());
    p.dlg.table.set_cell(0, col_start, "0");
    p.dlg.fields.set_text(id::THRESHOLD_STEP, ""); // reads as 0: passes would never end
    p.dlg.fields.set_text(id::INITIAL_THRESHOLD, "abc");
    EXPECT_FALSE(p.dlg.begin_batch());
    // One box names every value that stops the scan, with what is allowed.
    EXPECT_EQ(p.platform.messages.back().second,
              "The scan cannot start:\nInitial threshold must be a whole number from 45 to 10000, not \"abc\".\n"
              "Threshold step must be a whole number from 1 to 1000, not nothing.\nRow 1, m.ser: the threshold step "
              "is 0; it must be at least 1.");
    p.dlg.fields.set_text(id::THRESHOLD_STEP, "3");
    p.dlg.fields.set_text(id::INITIAL_THRESHOLD, "60");
    EXPECT_TRUE(p.platform.window_open);
    const auto job = p.dlg.begin_batch();
    ASSERT_TRUE(job);
    EXPECT_TRUE(p.platform.window_open); // the image window keeps the frame last shown
    EXPECT_EQ(p.dlg.fields.text(id::READOUT_X), "");
    ASSERT_EQ(job->jobs.size(), 1u);
    EXPECT_EQ(job->jobs[0].settings.threshold, 60);

    detect::batch_report report;
    report.start = {2026, 12, 7, 9, 5, 3, 0};
    report.end = {2026, 12, 7, 10, 15, 59, 0};
    report.files.resize(1);
    report.files[0].outcome = detect::file_outcome::scanned;
    report.files[0].det_frames = 2;
    const std::size_t boxes = p.platform.messages.size();
    // What files tell during the run goes to the status line, and all of it into one closing box.
    p.dlg.batch_message(detect::engine_message::note(
        detect::caption_id::scan,
        "The results folder Results_m is not renamed to Results_m_s60_299:\nit already exists."));
    p.dlg.batch_message(detect::engine_message::failure(detect::caption_id::scan, "something else"));
    EXPECT_EQ(p.platform.messages.size(), boxes);
    EXPECT_EQ(p.dlg.status_line(), "something else");
    p.dlg.end_batch(report, {});
    ASSERT_EQ(p.platform.messages.size(), boxes + 1);
    EXPECT_EQ(p.platform.messages.back(),
              std::make_pair(std::string("Scan finished"),
                             std::string("Scan finished: 1 file, 2 frames with detections, 09:05:03 to 10:15:59.\n\n"
                                         "The results folder Results_m is not renamed to Results_m_s60_299: it "
                                         "already exists.\nsomething else")));
    EXPECT_EQ(p.platform.icons.back(), box_icon::warning);
    EXPECT_EQ(p.dlg.status_line(), "Scan finished: 1 file, 2 frames with detections, 09:05:03 to 10:15:59");
    EXPECT_EQ(p.dlg.status_line().find('\n'), std::string::npos);
    ASSERT_TRUE(p.dlg.begin_batch());
    report.stopped = true;
    p.dlg.end_batch(report, {});
    EXPECT_EQ(p.platform.messages.back().first, "Scan stopped");
    EXPECT_EQ(p.platform.icons.back(), box_icon::warning);
    report.stopped = false;
    ASSERT_TRUE(p.dlg.begin_batch());
    p.dlg.end_batch(report, {});
    EXPECT_EQ(p.platform.icons.back(), box_icon::information); // nothing to tell
    // The last file scanned is on display again: "Show frame" reads at once.
    EXPECT_TRUE(p.platform.window_open);
    p.dlg.fields.set_text(id::FRAME_NO, "5");
    p.dlg.command(id::SHOW_FRAME);
    EXPECT_EQ(p.dlg.frame_buf()[0], 5 * 7);
}

} // namespace
} // namespace serflash::ui
