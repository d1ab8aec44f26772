#include "ui/folder_list.h"

#include "platform/file_io.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace serflash::ui {
namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool is_ser_name(const std::string& name) { return name.size() > 4 && lower(name.substr(name.size() - 4)) == ".ser"; }

std::string join(const std::string& dir, const std::string& name) {
    return (!dir.empty() && dir.back() == '/') ? dir + name : dir + "/" + name;
}

// Mount points from the kernel's table that hold removable or extra volumes.
std::vector<std::string> mounted_volumes() {
    std::vector<std::string> out;
    auto file = platform::native_file_system().open_read("/proc/mounts");
    if (!file) return out;
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = file.value()->read(buf, sizeof buf)) > 0;) text.append(buf, n);
    std::istringstream lines(text);
    std::string device, mount_point, rest;
    while (lines >> device >> mount_point && std::getline(lines, rest)) {
        if (device.rfind("/dev/", 0) != 0) continue; // only volumes on a device
        if (mount_point.rfind("/media/", 0) == 0 || mount_point.rfind("/mnt/", 0) == 0 ||
            mount_point.rfind("/run/media/", 0) == 0)
            out.push_back(mount_point);
    }
    return out;
}

class native_folders final : public folder_access {
public:
    bool read_dir(const std::string& dir, std::vector<dir_item>& items, std::string* error) override {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            if (error != nullptr) *error = ec.message();
            return false;
        }
        items.clear();
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            std::error_code kind_ec;
            items.push_back({it->path().filename().string(), it->is_directory(kind_ec)});
        }
        return true;
    }

    std::vector<std::string> roots() override {
        std::vector<std::string> out{"/"};
        if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') out.emplace_back(home);
        for (auto& v : mounted_volumes()) out.push_back(std::move(v));
        std::vector<std::string> unique;
        for (auto& r : out)
            if (std::find(unique.begin(), unique.end(), r) == unique.end()) unique.push_back(r);
        return unique;
    }

    std::string current_dir() override {
        std::error_code ec;
        auto p = std::filesystem::current_path(ec);
        return ec ? std::string{} : p.string();
    }

    bool change_dir(const std::string& dir, std::string* error) override {
        std::error_code ec;
        std::filesystem::current_path(dir, ec);
        if (ec && error != nullptr) *error = ec.message();
        return !ec;
    }
};

} // namespace

folder_access& native_folder_access() {
    static native_folders instance;
    return instance;
}

std::string parent_folder(const std::string& dir) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    const auto slash = d.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return d.substr(0, slash);
}

std::vector<folder_entry> make_listing(const std::string& dir, const std::vector<dir_item>& items, bool all_files,
                                       const std::vector<std::string>& roots) {
    std::vector<folder_entry> out;
    if (dir != "/") out.push_back({"[..]", parent_folder(dir), entry_kind::folder});
    for (const auto& item : items) {
        if (item.name.empty() || item.name[0] == '.') continue;
        if (item.is_folder) {
            out.push_back({"[" + item.name + "]", join(dir, item.name), entry_kind::folder});
        } else if (all_files || is_ser_name(item.name)) {
            out.push_back({item.name, item.name, entry_kind::file});
        }
    }
    for (const auto& r : roots) out.push_back({"[-" + r + "-]", r, entry_kind::root});
    // The files first, so that many results folders do not push them out of sight; then the
    // folders and the roots, each group by name.
    const auto group = [](const folder_entry& e) { return e.kind == entry_kind::file ? 0 : 1; };
    std::stable_sort(out.begin(), out.end(), [&group](const folder_entry& a, const folder_entry& b) {
        if (group(a) != group(b)) return group(a) < group(b);
        return lower(a.label) < lower(b.label);
    });
    return out;
}

} // namespace serflash::ui
