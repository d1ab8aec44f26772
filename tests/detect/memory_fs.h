#pragma once
// A file system held in memory, with failures on demand, for engine tests. Its calls may come
// from several threads (files scanned at once); each holds one lock.
#include "platform/file_io.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace serflash::detect::testing {

class memory_fs final : public platform::file_system {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::set<std::string> dirs;
    std::set<std::string> links; // symbolic links (to anything): never opened for writing
    // Paths for which open_write fails, and paths whose writes fail after opening.
    std::function<bool(const std::string&)> refuse_create;
    std::function<bool(const std::string&)> refuse_write;
    bool refuse_mkdir = false;
    int creates = 0;
    int reads = 0; // files opened for reading

    std::string text(const std::string& path) const {
        const std::lock_guard lock(*mutex_);
        const auto it = files.find(path);
        return it == files.end() ? std::string{} : std::string(it->second.begin(), it->second.end());
    }

    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override {
        const std::lock_guard lock(*mutex_);
        const auto it = files.find(path);
        if (it == files.end()) return platform::status::failure("No such file or directory");
        ++reads;
        return platform::make_memory_input(it->second);
    }

    platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string& path,
                                                                        platform::write_mode mode) override {
        const std::lock_guard lock(*mutex_);
        const auto slash = path.find_last_of('/');
        const bool parent_ok = slash == std::string::npos || dirs.count(path.substr(0, slash)) > 0;
        if (links.count(path) > 0) return platform::status::failure("it is a symbolic link");
        if (!parent_ok || (refuse_create && refuse_create(path)))
            return platform::status::failure(parent_ok ? "Permission denied" : "No such file or directory");
        ++creates;
        auto& bytes = files[path];
        if (mode == platform::write_mode::truncate) bytes.clear();
        return std::unique_ptr<platform::output_file>(std::make_unique<out>(*this, path));
    }

    platform::status make_dir(const std::string& path) override {
        const std::lock_guard lock(*mutex_);
        if (refuse_mkdir || exists(path))
            return platform::status::failure(refuse_mkdir ? "Permission denied" : "File exists");
        dirs.insert(path);
        return {};
    }

    bool exists(const std::string& path) override {
        const std::lock_guard lock(*mutex_);
        return dirs.count(path) > 0 || files.count(path) > 0 || links.count(path) > 0;
    }

    platform::entry_kind kind_of(const std::string& path) override {
        const std::lock_guard lock(*mutex_);
        if (links.count(path) > 0) return platform::entry_kind::link;
        if (dirs.count(path) > 0) return platform::entry_kind::directory;
        return files.count(path) > 0 ? platform::entry_kind::file : platform::entry_kind::missing;
    }

    bool is_empty_dir(const std::string& path) override {
        const std::lock_guard lock(*mutex_);
        if (dirs.count(path) == 0) return false;
        const std::string inside = path + "/";
        for (const auto& [p, b] : files)
            if (p.rfind(inside, 0) == 0) return false;
        for (const auto& d : dirs)
            if (d.rfind(inside, 0) == 0) return false;
        return true;
    }

    platform::status rename_no_replace(const std::string& from, const std::string& to) override {
        const std::lock_guard lock(*mutex_);
        if (exists(to) || dirs.count(from) == 0) return platform::status::failure("File exists");
        dirs.erase(from);
        dirs.insert(to);
        std::map<std::string, std::vector<std::uint8_t>> moved;
        for (auto& [p, b] : files) moved[p.rfind(from + "/", 0) == 0 ? to + p.substr(from.size()) : p] = std::move(b);
        files = std::move(moved);
        return {};
    }

    platform::status rename_replacing(const std::string& from, const std::string& to) override {
        const std::lock_guard lock(*mutex_);
        const auto it = files.find(from);
        if (it == files.end() || links.count(to) > 0) return platform::status::failure("No such file or directory");
        auto bytes = std::move(it->second);
        files.erase(it);
        files[to] = std::move(bytes);
        return {};
    }

    platform::status remove_file(const std::string& path) override {
        const std::lock_guard lock(*mutex_);
        if (files.erase(path) == 0) return platform::status::failure("No such file or directory");
        return {};
    }

    // Files directly inside a folder, by name.
    std::vector<std::string> names_in(const std::string& dir) const {
        const std::lock_guard lock(*mutex_);
        std::vector<std::string> names;
        for (const auto& [p, b] : files)
            if (p.rfind(dir + "/", 0) == 0) names.push_back(p.substr(dir.size() + 1));
        return names;
    }

private:
    // Shared by copies, so that a scan result holding one can be returned; exists() is also
    // called under it.
    std::shared_ptr<std::recursive_mutex> mutex_ = std::make_shared<std::recursive_mutex>();
    class out final : public platform::output_file {
    public:
        out(memory_fs& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
        bool write(const void* src, std::size_t n) override {
            if (fs_.refuse_write && fs_.refuse_write(path_)) {
                failed_ = true;
                return false;
            }
            const std::lock_guard lock(*fs_.mutex_);
            const auto* p = static_cast<const std::uint8_t*>(src);
            auto& bytes = fs_.files[path_];
            bytes.insert(bytes.end(), p, p + n);
            return true;
        }
        bool close() override { return !failed_; }
        std::string error() const override { return failed_ ? "No space left on device" : ""; }

    private:
        bool failed_ = false;
        memory_fs& fs_;
        std::string path_;
    };
};

} // namespace serflash::detect::testing
