#pragma once
// Stand-ins for the windowing layer, the directory operations and the file system, so the
// control panel's logic runs without a display.
#include "platform/file_io.h"
#include "ser/ser_writer.h"
#include "ui/folder_list.h"
#include "ui/main_dialog.h"
#include "ui/panel_platform.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace serflash::ui::testing {

struct fake_platform final : panel_platform {
    std::vector<std::pair<std::string, std::string>> messages; // title, text
    std::vector<box_icon> icons;                               // of each message
    std::string value_allowed;                                 // what the value dialog said is allowed
    std::optional<std::string> folder_choice;
    std::optional<std::string> typed_value; // what the value dialog's user types; none: Cancel
    int value_dialogs = 0;
    std::string value_shown;
    bool window_open = false;
    bool fail_window = false;
    int windows_created = 0;
    int client_w = 0, client_h = 0;
    std::string caption;
    int repaints = 0;

    void message_box(box_icon icon, box_caption c, const std::string& t) override {
        icons.push_back(icon);
        messages.emplace_back(std::string(caption_text(c)), t);
    }
    std::optional<std::string> choose_folder(const std::string&) override { return folder_choice; }
    bool edit_value(std::string& text, const value_rules& rules) override {
        ++value_dialogs;
        value_shown = text;
        value_allowed = rules.allowed;
        if (!typed_value) return false;
        text = *typed_value;
        return true;
    }
    bool create_image_window(int w, int h) override {
        if (fail_window) return false;
        ++windows_created;
        window_open = true;
        client_w = w;
        client_h = h;
        return true;
    }
    void destroy_image_window() override { window_open = false; }
    void set_image_caption(const std::string& c) override { caption = c; }
    void repaint_image() override { ++repaints; }
};

struct fake_folders final : folder_access {
    std::map<std::string, std::vector<dir_item>> dirs;
    std::string cwd = "/data";

    bool read_dir(const std::string& dir, std::vector<dir_item>& items, std::string* error) override {
        const auto it = dirs.find(dir);
        if (it == dirs.end()) {
            if (error != nullptr) *error = "No such file or directory";
            return false;
        }
        items = it->second;
        return true;
    }
    std::vector<std::string> roots() override { return {"/", "/home/obs"}; }
    std::string current_dir() override { return cwd; }
    bool change_dir(const std::string& dir, std::string*) override {
        cwd = dir;
        return true;
    }
};

// Files held in memory by path; only reading is needed by the panel.
struct memory_files final : platform::file_system {
    std::map<std::string, std::vector<std::uint8_t>> files;

    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override {
        const auto it = files.find(path);
        if (it == files.end()) return platform::status::failure("No such file or directory");
        return platform::make_memory_input(it->second);
    }
    platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string&,
                                                                        platform::write_mode) override {
        return platform::status::failure("Read-only file system");
    }
    platform::status make_dir(const std::string&) override {
        return platform::status::failure("Read-only file system");
    }
    bool exists(const std::string& path) override { return files.count(path) != 0; }
    platform::status rename_no_replace(const std::string&, const std::string&) override {
        return platform::status::failure("Read-only file system");
    }
};

// SER bytes whose frame k holds the sample value (k * 7 + x + y) & mask at (x, y).
inline std::vector<std::uint8_t> ser_file(std::int32_t w, std::int32_t h, std::int32_t depth, std::int32_t frames) {
    struct sink final : platform::output_file {
        std::vector<std::uint8_t> bytes;
        bool write(const void* src, std::size_t n) override {
            const auto* p = static_cast<const std::uint8_t*>(src);
            bytes.insert(bytes.end(), p, p + n);
            return true;
        }
        bool close() override { return true; }
    } out;
    ser::ser_writer writer(out, ser::make_header(w, h, depth, frames));
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const std::uint32_t mask = depth == 8 ? 0xFFU : 0xFFFFU;
    for (std::int32_t k = 0; k < frames; ++k) {
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                samples[static_cast<std::size_t>(y * w + x)] =
                    static_cast<std::uint16_t>(static_cast<std::uint32_t>(k * 7 + x + y) & mask);
        writer.write_frame(samples);
    }
    return std::move(out.bytes);
}

// A panel started in /data, which holds the given files (name -> bytes).
struct panel {
    fake_platform platform;
    fake_folders folders;
    memory_files files;
    main_dialog dlg{platform, folders, files};

    void put(const std::string& name, std::vector<std::uint8_t> bytes) {
        files.files["/data/" + name] = std::move(bytes);
        folders.dirs["/data"].push_back({name, false});
    }
    void start() {
        folders.dirs["/data"]; // exists even when empty
        dlg.init();
        dlg.set_auto_levels(false); // these tests read the row's Brt rendering; auto levels have their own
    }
    int entry(const std::string& label) const {
        const auto& e = dlg.folder_entries();
        for (std::size_t i = 0; i < e.size(); ++i)
            if (e[i].label == label) return static_cast<int>(i);
        return -1;
    }
    // Adds a listed file as a double-click in the folder list does.
    void add(const std::string& name) { dlg.folder_double_click(entry(name)); }
};

} // namespace serflash::ui::testing
