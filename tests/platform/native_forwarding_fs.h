#pragma once
// The machine's file system behind every call, for a test to change what one call gives.
#include "platform/file_io.h"

#include <memory>
#include <string>

namespace serflash::testing {

class native_forwarding_fs : public platform::file_system {
public:
    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override {
        return real_.open_read(path);
    }
    platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string& path,
                                                                        platform::write_mode mode) override {
        return real_.open_write(path, mode);
    }
    platform::status make_dir(const std::string& path) override { return real_.make_dir(path); }
    bool exists(const std::string& path) override { return real_.exists(path); }
    platform::status rename_no_replace(const std::string& from, const std::string& to) override {
        return real_.rename_no_replace(from, to);
    }
    platform::entry_kind kind_of(const std::string& path) override { return real_.kind_of(path); }
    bool is_empty_dir(const std::string& path) override { return real_.is_empty_dir(path); }
    platform::status rename_replacing(const std::string& from, const std::string& to) override {
        return real_.rename_replacing(from, to);
    }
    platform::status remove_file(const std::string& path) override { return real_.remove_file(path); }
    bool concurrent_writes() override { return real_.concurrent_writes(); }

private:
    platform::file_system& real_ = platform::native_file_system();
};

} // namespace serflash::testing
