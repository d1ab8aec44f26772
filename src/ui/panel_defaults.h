#pragma once
// The control panel's values as the program starts: every front end fills its field store
// from here, so the desktop and command-line programs scan with the same defaults.
#include "ui/dialog_fields.h"

namespace serflash::ui {

void set_panel_defaults(dialog_fields& fields);

} // namespace serflash::ui
