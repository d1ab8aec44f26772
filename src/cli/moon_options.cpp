#include "cli/moon_options.h"

#include "ui/control_ids.h"
#include "ui/setting_table.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace serflash::cli {
namespace {

std::string help_of(int control_id) { return std::string(ui::setup_for_field(control_id)->help); }
std::string flag_of(int control_id) { return std::string(ui::setup_for_field(control_id)->flag); }

} // namespace

void add_moon_options(CLI::App* cmd, moon_cli& m, const std::string& group) {
    cmd->add_option(flag_of(ui::id::SITE), m.site_text, help_of(ui::id::SITE))->group(group);
    cmd->add_option(flag_of(ui::id::ROTATION), m.rotation_text, help_of(ui::id::ROTATION))->group(group);
    cmd->add_flag(flag_of(ui::id::MIRROR), m.options.mirror, help_of(ui::id::MIRROR))->group(group);
}

bool finish_moon_options(moon_cli& m, const std::string& command) {
    std::string error;
    if (!m.site_text.empty()) {
        m.options.site = astro::parse_observing_site(m.site_text, error);
        if (!m.options.site) {
            std::cerr << "serflash " << command << ": --site " << m.site_text << ": " << error << "\n";
            return false;
        }
    }
    if (!m.rotation_text.empty()) {
        m.options.rotation_deg = ui::parse_rotation(m.rotation_text, error);
        if (!m.options.rotation_deg) {
            std::cerr << "serflash " << command << ": --rotation: " << error << "\n";
            return false;
        }
    }
    return true;
}

} // namespace serflash::cli
