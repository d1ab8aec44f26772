#include "ui/panel_settings.h"

#include "ui/control_ids.h"
#include "ui/setting_table.h"

namespace serflash::ui {

detect::scan_settings load_scan_settings(const scan_table& table, int row, const dialog_fields& fields) {
    detect::scan_settings s;
    // Column 2 ("frames") is part of the row but no setting comes from it.
    s.start_frame = table.get_cell_int(row, col_start);
    s.end_frame = table.get_cell_int(row, col_stop);
    s.max_det_frames = table.get_cell_int(row, col_max);
    s.packet_size = table.get_cell_int(row, col_pack);
    s.blue_level = table.get_cell_int(row, col_blue);
    s.red_level = table.get_cell_int(row, col_red);
    s.brightness = table.get_cell_int(row, col_brt);

    s.threshold = fields.get_int(id::INITIAL_THRESHOLD);
    s.threshold_step = fields.get_int(id::THRESHOLD_STEP);
    s.pct_left = fields.get_int(id::PCT_LEFT);
    s.pct_right = fields.get_int(id::PCT_RIGHT);
    s.pct_top = fields.get_int(id::PCT_TOP);
    s.pct_bottom = fields.get_int(id::PCT_BOTTOM);
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& f = id::MASK_FIELDS[k];
        s.mask_ul[k] = detect::pack_point(fields.get_int(f[0]), fields.get_int(f[1]));
        s.mask_lr[k] = detect::pack_point(fields.get_int(f[2]), fields.get_int(f[3]));
    }
    s.red_mask_half = fields.get_int(id::RED_MASK_HALF);
    s.blue_mask_half = fields.get_int(id::BLUE_MASK_HALF);
    s.star_mask_half = fields.get_int(id::STAR_MASK_HALF);
    s.star_half_width = fields.get_int(id::STAR_HALF_WIDTH);
    s.star_threshold = fields.get_int(id::STAR_THRESHOLD);
    s.scatter_v = fields.get_int(id::SCATTER_V);
    s.scatter_h = fields.get_int(id::SCATTER_H);
    s.continue_after_scatter = fields.checked(id::CONTINUE_AFTER_SCATTER);
    s.complete = fields.checked(id::EXAMINE_EVERY_FRAME);
    for (const auto f : {detect::snapshot_format::png, detect::snapshot_format::none})
        if (fields.checked(snapshots_radio(f))) s.snapshots = f;
    return s;
}

int snapshots_radio(detect::snapshot_format format) {
    switch (format) {
        case detect::snapshot_format::png:
            return id::SNAPSHOTS_PNG;
        case detect::snapshot_format::none:
            return id::SNAPSHOTS_NONE;
        case detect::snapshot_format::bmp:
            break;
    }
    return id::SNAPSHOTS_BMP;
}

detect::mask_switches read_mask_switches(const dialog_fields& fields) {
    return {fields.checked(id::MASK_RED_ON), fields.checked(id::MASK_BLUE_ON), fields.checked(id::MASK_STARS_ON)};
}

report::moon_options read_moon_options(const dialog_fields& fields) {
    report::moon_options m;
    std::string error;
    if (const std::string& site = fields.text(id::SITE); site.find_first_not_of(" \t") != std::string::npos)
        m.site = astro::parse_observing_site(site, error);
    if (const std::string& turn = fields.text(id::ROTATION); turn.find_first_not_of(" \t") != std::string::npos)
        m.rotation_deg = parse_rotation(turn, error);
    m.mirror = fields.checked(id::MIRROR);
    return m;
}

std::vector<detect::scan_job> jobs_from_table(const scan_table& table, const dialog_fields& fields,
                                              std::int32_t bit_shift) {
    std::vector<detect::scan_job> jobs;
    for (int row = 0; row < table.list_file; ++row) {
        detect::scan_job job;
        job.path = table.file_path[static_cast<std::size_t>(row)];
        job.settings = load_scan_settings(table, row, fields);
        job.switches = read_mask_switches(fields);
        job.bit_shift = bit_shift;
        jobs.push_back(std::move(job));
    }
    return jobs;
}

} // namespace serflash::ui
