#include "ui/panel_defaults.h"

#include "detect/scan_settings.h"
#include "ui/control_ids.h"
#include "ui/image_view.h"
#include "ui/panel_settings.h"

namespace serflash::ui {

void set_panel_defaults(dialog_fields& fields) {
    const detect::scan_settings d; // the start-up values
    fields.set_int(id::BIT_SHIFT, 0);
    fields.set_int(id::INITIAL_THRESHOLD, d.threshold);
    fields.set_int(id::THRESHOLD_STEP, d.threshold_step);
    fields.set_int(id::PCT_TOP, d.pct_top);
    fields.set_int(id::PCT_BOTTOM, d.pct_bottom);
    fields.set_int(id::PCT_RIGHT, d.pct_right);
    fields.set_int(id::PCT_LEFT, d.pct_left);
    const detect::mask_switches off;
    fields.set_checked(id::MASK_RED_ON, off.red);
    fields.set_checked(id::MASK_BLUE_ON, off.blue);
    fields.set_checked(id::MASK_STARS_ON, off.stars);
    fields.set_checked(id::SHOW_RED_BLUE, false);
    fields.set_int(id::RED_MASK_HALF, d.red_mask_half);
    fields.set_int(id::BLUE_MASK_HALF, d.blue_mask_half);
    fields.set_int(id::STAR_MASK_HALF, d.star_mask_half);
    fields.set_int(id::STAR_THRESHOLD, d.star_threshold);
    fields.set_int(id::STAR_HALF_WIDTH, d.star_half_width);
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& f = id::MASK_FIELDS[k];
        fields.set_int(f[0], detect::point_x(d.mask_ul[k]));
        fields.set_int(f[1], detect::point_y(d.mask_ul[k]));
        fields.set_int(f[2], detect::point_x(d.mask_lr[k]));
        fields.set_int(f[3], detect::point_y(d.mask_lr[k]));
    }
    fields.check_radio(id::MASK_SELECT_0, id::MASK_SELECT_3, id::MASK_SELECT_0);
    fields.set_checked(id::SHOW_MASK_AREAS, false);
    fields.set_int(id::SCATTER_V, d.scatter_v);
    fields.set_int(id::SCATTER_H, d.scatter_h);
    fields.set_checked(id::CONTINUE_AFTER_SCATTER, d.continue_after_scatter);
    fields.set_checked(id::EXAMINE_EVERY_FRAME, d.complete);
    fields.check_radio(id::SNAPSHOTS_BMP, id::SNAPSHOTS_NONE, snapshots_radio(d.snapshots));
    check_display_size(fields, {true, {}}); // "Fit to window"
}

} // namespace serflash::ui
