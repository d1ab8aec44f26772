#pragma once
// From the panel's values to the engine's typed input: the fields and a row's cells become a
// file's scan settings, and the listed rows a batch of scan jobs.
#include "detect/batch.h"
#include "detect/scan_settings.h"
#include "report/moon_observation.h"
#include "ui/dialog_fields.h"
#include "ui/scan_table.h"

#include <vector>

namespace serflash::ui {

// The settings of the file in scan-table row `row`: that row's cells (atoi) and the panel's
// fields (dialog-number rules; mask coordinates keep their low 16 bits, signed).
detect::scan_settings load_scan_settings(const scan_table& table, int row, const dialog_fields& fields);

// The radio button that stands for a snapshot format.
int snapshots_radio(detect::snapshot_format format);

// The switches as the panel's check boxes hold them.
detect::mask_switches read_mask_switches(const dialog_fields& fields);

// The site, the rotation and the mirror as the panel's fields hold them; a field that holds no
// allowed value gives nothing (field_problems names it).
report::moon_options read_moon_options(const dialog_fields& fields);

// One job per counted row, in table order, with the bit shift in force.
std::vector<detect::scan_job> jobs_from_table(const scan_table& table, const dialog_fields& fields,
                                              std::int32_t bit_shift);

} // namespace serflash::ui
