#include "detect/scan_settings.h"

#include "ui/control_ids.h"
#include "ui/dialog_fields.h"
#include "ui/scan_table.h"

namespace serflash::detect {

scan_settings load_scan_settings(const ui::scan_table& table, int row, const ui::dialog_fields& fields) {
    namespace id = ui::id;
    scan_settings s;
    // Column 2 ("frames") is part of the row but no setting comes from it.
    s.start_frame = table.get_cell_int(row, ui::col_start);
    s.end_frame = table.get_cell_int(row, ui::col_stop);
    s.max_det_frames = table.get_cell_int(row, ui::col_max);
    s.packet_size = table.get_cell_int(row, ui::col_pack);
    s.blue_level = table.get_cell_int(row, ui::col_blue);
    s.red_level = table.get_cell_int(row, ui::col_red);
    s.brightness = table.get_cell_int(row, ui::col_brt);

    s.threshold = fields.get_int(id::INITIAL_THRESHOLD);
    s.threshold_step = fields.get_int(id::THRESHOLD_STEP);
    s.pct_left = fields.get_int(id::PCT_LEFT);
    s.pct_right = fields.get_int(id::PCT_RIGHT);
    s.pct_top = fields.get_int(id::PCT_TOP);
    s.pct_bottom = fields.get_int(id::PCT_BOTTOM);
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& f = id::MASK_FIELDS[k];
        const std::int32_t ul_x = fields.get_int(f[0]);
        const std::int32_t ul_y = fields.get_int(f[1]);
        const std::int32_t lr_x = fields.get_int(f[2]);
        const std::int32_t lr_y = fields.get_int(f[3]);
        s.mask_ul[k] = pack_point(ul_x, ul_y);
        s.mask_lr[k] = pack_point(lr_x, lr_y);
    }
    s.red_mask_half = fields.get_int(id::RED_MASK_HALF);
    s.blue_mask_half = fields.get_int(id::BLUE_MASK_HALF);
    s.star_mask_half = fields.get_int(id::STAR_MASK_HALF);
    s.star_half_width = fields.get_int(id::STAR_HALF_WIDTH);
    s.star_threshold = fields.get_int(id::STAR_THRESHOLD);
    s.scatter_v = fields.get_int(id::SCATTER_V);
    s.scatter_h = fields.get_int(id::SCATTER_H);
    return s;
}

mask_switches read_mask_switches(const ui::dialog_fields& fields) {
    return {fields.checked(ui::id::MASK_RED_ON), fields.checked(ui::id::MASK_BLUE_ON),
            fields.checked(ui::id::MASK_STARS_ON)};
}

} // namespace serflash::detect
