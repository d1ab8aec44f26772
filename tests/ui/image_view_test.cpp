#include "ui/image_view.h"

#include "ui/control_ids.h"
#include "ui/dialog_fields.h"

#include <gtest/gtest.h>

namespace serflash::ui {
namespace {

struct view_fixture : ::testing::Test {
    dialog_fields fields;
    image_view view;
    std::vector<std::uint16_t> frame;

    void open(int w, int h, int zoom, int mask) {
        view.open(w, h, zoom);
        frame.assign(static_cast<std::size_t>(w * h), 0);
        for (int i = 0; i < w * h; ++i) frame[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i % 60000);
        for (const auto& m : id::MASK_FIELDS)
            for (int f : m) fields.set_int(f, 0);
        fields.check_radio(id::MASK_SELECT_0, id::MASK_SELECT_3, id::MASK_SELECT_0 + mask);
    }
    std::array<std::string, 4> mask_texts(int mask) const {
        const auto& f = id::MASK_FIELDS[mask];
        return {fields.text(f[0]), fields.text(f[1]), fields.text(f[2]), fields.text(f[3])};
    }
    void drag(view_point from, view_point to) {
        view.right_down(from, fields);
        view.mouse_move(to, fields, frame);
        view.right_up(to, fields);
    }
};

TEST_F(view_fixture, SizeByDivisor) {
    view.open(1000, 600, 3);
    EXPECT_EQ(view.disp_w(), 333);
    EXPECT_EQ(view.disp_h(), 200);
    EXPECT_EQ(view.client_w(), 333); // the frame alone
    EXPECT_EQ(view.client_h(), 200);
    const std::pair<int, int> choices[] = {{id::ZOOM_100, 1}, {id::ZOOM_50, 2}, {id::ZOOM_33, 3}, {id::ZOOM_25, 4}};
    for (auto [radio, div] : choices) {
        fields.check_radio(id::ZOOM_100, id::ZOOM_25, radio);
        EXPECT_EQ(read_zoom_choice(fields), div);
    }
    fields.check_radio(id::ZOOM_100, id::ZOOM_25, 0);
    EXPECT_EQ(read_zoom_choice(fields), 4);
}

TEST_F(view_fixture, ReadOutScalesAndClampsInTheMargins) {
    open(640, 480, 2, 0);
    frame[40 * 640 + 20] = 123;
    view.mouse_move({10, 20}, fields, frame);
    EXPECT_EQ(fields.text(id::READOUT_X), "20");
    EXPECT_EQ(fields.text(id::READOUT_Y), "40");
    EXPECT_EQ(fields.text(id::READOUT_VALUE), "   123");
    view.mouse_move({319, 239}, fields, frame); // the last shown pixel
    EXPECT_EQ(fields.text(id::READOUT_X), "638");
    EXPECT_EQ(fields.text(id::READOUT_Y), "478");
    EXPECT_EQ(fields.text(id::READOUT_VALUE), readout_text(frame[478 * 640 + 638]));
    view.mouse_move({320, 240}, fields, frame); // outside the window: not delivered
    EXPECT_EQ(fields.text(id::READOUT_X), "638");
    view.mouse_move({330, 5}, fields, frame); // outside the window: not delivered
    EXPECT_EQ(fields.text(id::READOUT_X), "638");
    EXPECT_FALSE(view.dragging());
    EXPECT_TRUE(view.overlay().empty());
}

struct drag_case {
    int mask;
    int zoom;
    std::array<const char*, 4> expected;
};

TEST_F(view_fixture, EachMaskTakesTheReleasedCorner) {
    const drag_case cases[] = {
        {0, 1, {"0", "0", "100", "50"}},
        {1, 2, {"200", "0", "639", "100"}},
        {2, 1, {"0", "50", "100", "479"}},
        {3, 1, {"100", "50", "639", "479"}},
    };
    for (const auto& c : cases) {
        open(640, 480, c.zoom, c.mask);
        drag({300, 200}, {100, 50});
        const auto got = mask_texts(c.mask);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], c.expected[i]) << "mask " << c.mask << " field " << i;
        for (int other = 0; other < 4; ++other)
            if (other != c.mask) {
                EXPECT_EQ(mask_texts(other), (std::array<std::string, 4>{"0", "0", "0", "0"}));
            }
        EXPECT_FALSE(view.dragging());
    }
}

TEST_F(view_fixture, PressEmptiesTheFieldsTheReleaseSets) {
    open(640, 480, 1, 1);
    view.right_down({640, 480}, fields); // outside the window: not delivered
    EXPECT_FALSE(view.dragging());
    view.right_down({639, 479}, fields);
    EXPECT_TRUE(view.dragging());
    EXPECT_EQ(view.drag_last(), (view_point{639, 479}));
    EXPECT_EQ(view.drag_anchor(), (view_point{639, 0}));
    EXPECT_EQ(mask_texts(1), (std::array<std::string, 4>{"", "0", "639", ""}));
    EXPECT_EQ(view.overlay(), (std::vector<outline>{{{639, 0}, {639, 479}}}));
    fields.set_checked(id::SHOW_MASK_AREAS, true);
    const auto outlines = view.mask_outlines(fields); // empty fields read as 0
    EXPECT_EQ(outlines[1], (outline{{0, 0}, {639, 0}}));
}

TEST_F(view_fixture, ReleaseAtTheEdgeGivesTheLastShownPixel) {
    open(1000, 600, 3, 0);
    drag({10, 10}, {332, 199});
    EXPECT_EQ(mask_texts(0), (std::array<std::string, 4>{"0", "0", "996", "597"}));
}

TEST_F(view_fixture, EnlargedAndFittedScalesMapBackToImagePixels) {
    open(640, 480, 1, 0);
    view.rescale({2, 1});
    EXPECT_EQ(view.client_w(), 1280);
    view.mouse_move({399, 201}, fields, frame);
    EXPECT_EQ(fields.text(id::READOUT_X), "199");
    EXPECT_EQ(fields.text(id::READOUT_Y), "100");
    drag({10, 10}, {1279, 959});
    EXPECT_EQ(mask_texts(0), (std::array<std::string, 4>{"0", "0", "639", "479"}));
    fields.set_checked(id::SHOW_MASK_AREAS, true);
    EXPECT_EQ(view.mask_outlines(fields)[0], (outline{{0, 0}, {1278, 958}}));
    view.rescale(fit_scale(640, 480, 300, 300)); // 300 x 225
    EXPECT_EQ(view.client_w(), 300);
    EXPECT_EQ(view.client_h(), 225);
    view.mouse_move({299, 224}, fields, frame);
    EXPECT_EQ(fields.text(id::READOUT_X), "637");
    EXPECT_EQ(fields.text(id::READOUT_Y), "477");
    fields.check_radio(id::ZOOM_100, id::ZOOM_25, id::ZOOM_50);
    EXPECT_EQ(read_display_size(fields), (display_size{false, {1, 2}}));
    check_display_size(fields, {false, {4, 1}});
    EXPECT_TRUE(fields.checked(id::ZOOM_400));
    EXPECT_FALSE(fields.checked(id::ZOOM_50));
    check_display_size(fields, {true, {}});
    EXPECT_TRUE(read_display_size(fields).fit);
}

TEST_F(view_fixture, ReleaseOutsideTheWindowLeavesTheDragOn) {
    open(640, 480, 1, 0);
    view.right_down({10, 10}, fields);
    view.mouse_move({100, 100}, fields, frame);
    EXPECT_EQ(view.overlay(), (std::vector<outline>{{{0, 0}, {100, 100}}}));
    view.right_up({900, 100}, fields);
    EXPECT_TRUE(view.dragging());
    EXPECT_EQ(fields.text(id::MASK_FIELDS[0][2]), "");
    view.mouse_move({120, 60}, fields, frame); // back inside: the outline follows
    EXPECT_EQ(view.overlay(), (std::vector<outline>{{{0, 0}, {120, 60}}}));
    view.right_up({120, 60}, fields);
    EXPECT_FALSE(view.dragging());
    EXPECT_EQ(mask_texts(0), (std::array<std::string, 4>{"0", "0", "120", "60"}));
    EXPECT_EQ(view.overlay().size(), 1U); // stays until the next frame paint
    view.right_up({120, 60}, fields);     // idle: nothing
    view.frame_repainted(fields);
    EXPECT_TRUE(view.overlay().empty());
}

TEST(InvertOutline, ThreePixelsWideAndUndoneByASecondPass) {
    const int w = 20, h = 16;
    std::vector<std::uint32_t> px(w * h, 0xFF102030U);
    const auto original = px;
    const outline o{{12, 10}, {3, 2}};
    invert_outline(px, w, h, o);
    int inverted = 0;
    for (auto v : px) inverted += v == (0xFF102030U ^ 0x00FFFFFFU);
    // Outer box 12 x 11 less the inner box 6 x 5, each pixel inverted once.
    EXPECT_EQ(inverted, 12 * 11 - 6 * 5);
    EXPECT_EQ(px[2 * w + 3] & 0xFF000000U, 0xFF000000U);
    EXPECT_NE(px[1 * w + 2], original[1 * w + 2]); // the pen reaches one pixel outside
    EXPECT_EQ(px[6 * w + 7], original[6 * w + 7]); // inside stays
    invert_outline(px, w, h, o);
    EXPECT_EQ(px, original);
    invert_outline(px, w, h, {{-50, -50}, {100, 100}}); // clipped: nothing visible, no overrun
    EXPECT_EQ(px, original);
}

TEST(Compose, FrameDroppedRowsNoMarginsAndMaskOutlines) {
    display::display_bitmap bmp;
    ASSERT_TRUE(display::prep_for_display(bmp, 20, 12));
    for (int i = 0; i < 240; ++i) {
        bmp.disp_buf[static_cast<std::size_t>(i) * 4] = static_cast<std::uint8_t>(i);
        bmp.disp_buf[static_cast<std::size_t>(i) * 4 + 1] = 0;
        bmp.disp_buf[static_cast<std::size_t>(i) * 4 + 2] = 0;
        bmp.disp_buf[static_cast<std::size_t>(i) * 4 + 3] = 0;
    }
    dialog_fields fields;
    image_view view;
    view.open(20, 12, 2);
    auto px = view.compose(bmp);
    ASSERT_EQ(px.size(), 10U * 6U); // the frame alone, no white strips beside it
    EXPECT_EQ(px[0], 0xFF000000U);
    EXPECT_EQ(px[1], 0xFF000002U);                         // column 2 of the frame
    EXPECT_EQ(px[1 * 10 + 3], 0xFF000000U | (2 * 20 + 6)); // row 2, column 6
    for (auto v : px) EXPECT_NE(v, white_pixel);
    // A region is the same pixels as the whole.
    const auto part = view.compose(bmp, {3, 2, 4, 3});
    ASSERT_EQ(part.size(), 12U);
    EXPECT_EQ(part[0], px[2 * 10 + 3]);
    EXPECT_EQ(part[11], px[4 * 10 + 6]);

    // Two masks with the same rectangle invert each other away; one alone shows.
    fields.set_checked(id::SHOW_MASK_AREAS, true);
    for (int m = 0; m < 4; ++m)
        for (int f = 0; f < 4; ++f) fields.set_int(id::MASK_FIELDS[m][f], 0);
    const int same[4] = {2, 2, 12, 10};
    for (int f = 0; f < 4; ++f) {
        fields.set_int(id::MASK_FIELDS[0][f], same[f]);
        fields.set_int(id::MASK_FIELDS[1][f], same[f]);
    }
    fields.set_int(id::MASK_FIELDS[2][0], 0); // masks 2 and 3: points at (0, 0), the same
    view.frame_repainted(fields);
    EXPECT_EQ(view.compose(bmp), px);
    fields.set_int(id::MASK_FIELDS[1][2], 14);
    view.frame_repainted(fields);
    const auto shown = view.compose(bmp);
    EXPECT_NE(shown, px);
    // Mask 0's right edge runs at x = 6, mask 1's at x = 7; their left edges cancel.
    EXPECT_EQ(shown[3 * 10 + 5], px[3 * 10 + 5] ^ 0x00FFFFFFU);
    EXPECT_EQ(shown[3 * 10 + 6], px[3 * 10 + 6]);
    EXPECT_EQ(shown[3 * 10 + 8], px[3 * 10 + 8] ^ 0x00FFFFFFU);
    EXPECT_EQ(shown[3 * 10 + 1], px[3 * 10 + 1]);
    // Outlines in a region land where they do in the whole.
    const auto part_shown = view.compose(bmp, {4, 3, 5, 1});
    for (int x = 0; x < 5; ++x) EXPECT_EQ(part_shown[static_cast<std::size_t>(x)], shown[3 * 10 + 4 + x]);
    fields.set_checked(id::SHOW_MASK_AREAS, false);
    view.frame_repainted(fields);
    EXPECT_EQ(view.compose(bmp), px);
}

// The image window's place for frames shown whole (640 x 480), larger than the room left
// (1280 x 960) and far larger than the screen (4000 x 3000); outer sizes add the margin and a
// 30-pixel strip. 1366 x 768 is also what a 2732 x 1536 screen gives at scale factor 2.
struct placement_case {
    const char* name;
    screen_rect screen;
    screen_rect panel;
    window_size wanted;
    screen_rect placed;
};

void PrintTo(const placement_case& c, std::ostream* os) { *os << c.name; }

class ImagePlacement : public ::testing::TestWithParam<placement_case> {};

TEST_P(ImagePlacement, StaysOnTheScreenAndOffThePanel) {
    const auto& c = GetParam();
    const screen_rect r = place_image_window(c.screen, c.panel, c.wanted, 10);
    EXPECT_EQ(r, c.placed);
    EXPECT_GE(r.x, c.screen.x);
    EXPECT_GE(r.y, c.screen.y);
    EXPECT_LE(r.right(), c.screen.right());
    EXPECT_LE(r.bottom(), c.screen.bottom());
    EXPECT_LE(r.w, c.wanted.w);
    EXPECT_LE(r.h, c.wanted.h);
}

constexpr screen_rect small_screen{0, 0, 1366, 768};
constexpr screen_rect small_panel{680, 0, 686, 768}; // narrowed to leave the image room
constexpr screen_rect full_hd{0, 0, 1920, 1080};
constexpr screen_rect full_hd_panel{720, 0, 1200, 700};

INSTANTIATE_TEST_SUITE_P(
    Screens, ImagePlacement,
    ::testing::Values(
        placement_case{
            "small frame beside the panel at 1366", small_screen, small_panel, {650, 520}, {40, 0, 650, 520}},
        placement_case{
            "large frame at 1366 scrolls left of the panel", small_screen, small_panel, {1290, 1000}, {0, 0, 690, 768}},
        placement_case{"huge frame at 1366", small_screen, small_panel, {4010, 3040}, {0, 0, 690, 768}},
        placement_case{"small frame beside the panel at 1920", full_hd, full_hd_panel, {650, 520}, {80, 0, 650, 520}},
        placement_case{"large frame at 1920", full_hd, full_hd_panel, {1290, 1000}, {0, 0, 730, 1000}},
        placement_case{"huge frame at 1920", full_hd, full_hd_panel, {4010, 3040}, {0, 0, 730, 1080}},
        placement_case{"no room left: below the panel", full_hd, {0, 0, 1900, 500}, {650, 520}, {0, 500, 650, 520}},
        placement_case{"no room anywhere: the screen's left edge",
                       small_screen,
                       {100, 0, 1266, 768},
                       {650, 520},
                       {0, 0, 650, 520}},
        placement_case{"a second screen to the right",
                       {1920, 0, 1366, 768},
                       {2600, 0, 686, 768},
                       {1290, 1000},
                       {1920, 0, 690, 768}}));

TEST(PanelSize, NarrowedForTheImageButNeverBelowTheLeast) {
    EXPECT_EQ(initial_panel_size(small_screen, {1150, 640}, {480, 320}, 680).w, 686);
    EXPECT_EQ(initial_panel_size(full_hd, {1150, 640}, {480, 320}, 680).w, 1150);
    const window_size at_scale_2 = initial_panel_size(small_screen, {2468, 1146}, {480, 320}, 680);
    EXPECT_EQ(at_scale_2.w, 686);
    EXPECT_EQ(at_scale_2.h, 768);
    EXPECT_EQ(initial_panel_size({0, 0, 800, 600}, {1150, 640}, {480, 320}, 680).w, 480);
}

} // namespace
} // namespace serflash::ui
