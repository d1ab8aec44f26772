#include "ui/panel_defaults.h"

#include "ui/control_ids.h"

namespace serflash::ui {

void set_panel_defaults(dialog_fields& fields) {
    fields.set_int(id::BIT_SHIFT, 0);
    fields.set_int(id::INITIAL_THRESHOLD, 60);
    fields.set_int(id::THRESHOLD_STEP, 3);
    for (int f : {id::PCT_TOP, id::PCT_BOTTOM, id::PCT_RIGHT, id::PCT_LEFT}) fields.set_int(f, 25);
    for (int f : {id::MASK_RED_ON, id::MASK_BLUE_ON, id::MASK_STARS_ON, id::SHOW_RED_BLUE})
        fields.set_checked(f, false);
    for (int f : {id::RED_MASK_HALF, id::BLUE_MASK_HALF, id::STAR_MASK_HALF}) fields.set_int(f, 10);
    fields.set_int(id::STAR_THRESHOLD, 30);
    fields.set_int(id::STAR_HALF_WIDTH, 10);
    for (const auto& mask : id::MASK_FIELDS)
        for (int f : mask) fields.set_int(f, 0);
    fields.check_radio(id::MASK_SELECT_0, id::MASK_SELECT_3, id::MASK_SELECT_0);
    fields.set_checked(id::SHOW_MASK_AREAS, false);
    fields.set_int(id::SCATTER_V, 20);
    fields.set_int(id::SCATTER_H, 100);
    fields.check_radio(id::ZOOM_100, id::ZOOM_25, id::ZOOM_100);
}

} // namespace serflash::ui
