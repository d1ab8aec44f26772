#include "platform/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serflash::platform {
namespace {

std::string errno_text(int err) { return std::strerror(err); }

class native_input final : public input_file {
public:
    explicit native_input(int fd) : fd_(fd) {}
    ~native_input() override { ::close(fd_); }
    native_input(const native_input&) = delete;
    native_input& operator=(const native_input&) = delete;

    std::size_t read(void* dst, std::size_t n) override {
        auto* out = static_cast<unsigned char*>(dst);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::read(fd_, out + done, n - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        pos_ += static_cast<std::int64_t>(done);
        return done;
    }
    bool seek(std::int64_t pos) override {
        if (pos < 0) return false;
        if (::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) return false;
        pos_ = pos;
        return true;
    }
    std::int64_t tell() const override { return pos_; }
    std::int64_t size() const override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return -1;
        return static_cast<std::int64_t>(st.st_size);
    }
    std::size_t read_at(std::int64_t pos, void* dst, std::size_t n) override {
        if (pos < 0) return 0;
        auto* out = static_cast<unsigned char*>(dst);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(pos) + static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    bool concurrent_reads() const override { return true; }
    void will_need(std::int64_t pos, std::int64_t n) override {
        if (pos >= 0 && n > 0)
            ::posix_fadvise(fd_, static_cast<off_t>(pos), static_cast<off_t>(n), POSIX_FADV_WILLNEED);
    }

private:
    int fd_;
    std::int64_t pos_ = 0;
};

class native_output final : public output_file {
public:
    explicit native_output(std::FILE* f) : f_(f) {}
    ~native_output() override {
        if (f_ != nullptr) std::fclose(f_);
    }
    native_output(const native_output&) = delete;
    native_output& operator=(const native_output&) = delete;

    bool write(const void* src, std::size_t n) override {
        if (f_ == nullptr) return false;
        if (n == 0) return true;
        if (std::fwrite(src, 1, n, f_) != n) failed_ = true;
        return !failed_;
    }
    bool close() override {
        if (f_ == nullptr) return !failed_;
        const bool ok = std::fclose(f_) == 0;
        f_ = nullptr;
        return ok && !failed_;
    }

private:
    std::FILE* f_;
    bool failed_ = false;
};

class native_fs final : public file_system {
public:
    std::unique_ptr<input_file> open_read(const std::string& path, std::string* error) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (error != nullptr) *error = errno_text(errno);
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            if (error != nullptr) *error = errno_text(EISDIR);
            return nullptr;
        }
        return std::make_unique<native_input>(fd);
    }
    std::unique_ptr<output_file> open_write(const std::string& path, write_mode mode, std::string* error) override {
        std::FILE* f = std::fopen(path.c_str(), mode == write_mode::append ? "ab" : "wb");
        if (f == nullptr) {
            if (error != nullptr) *error = errno_text(errno);
            return nullptr;
        }
        return std::make_unique<native_output>(f);
    }
    bool make_dir(const std::string& path, std::string* error) override {
        if (::mkdir(path.c_str(), 0777) == 0) return true;
        if (error != nullptr) *error = errno_text(errno);
        return false;
    }
    bool exists(const std::string& path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    bool rename_no_replace(const std::string& from, const std::string& to, std::string* error) override {
        // rename(2) silently replaces an empty folder: ask the kernel not to replace, and fall
        // back to check-then-rename on file systems that do not support that flag.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno != EINVAL && errno != ENOSYS) {
            if (error != nullptr) *error = errno_text(errno);
            return false;
        }
        if (exists(to)) {
            if (error != nullptr) *error = errno_text(EEXIST);
            return false;
        }
        if (std::rename(from.c_str(), to.c_str()) == 0) return true;
        if (error != nullptr) *error = errno_text(errno);
        return false;
    }
};

} // namespace

file_system& native_file_system() {
    static native_fs fs;
    return fs;
}

} // namespace serflash::platform

namespace serflash::platform {
namespace {
class memory_input final : public input_file {
public:
    explicit memory_input(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(void* dst, std::size_t n) override {
        const std::int64_t total = static_cast<std::int64_t>(bytes_.size());
        if (pos_ >= total) return 0;
        const std::size_t avail = static_cast<std::size_t>(total - pos_);
        const std::size_t k = n < avail ? n : avail;
        if (k == 0) return 0;
        std::memcpy(dst, bytes_.data() + pos_, k);
        pos_ += static_cast<std::int64_t>(k);
        return k;
    }
    bool seek(std::int64_t pos) override {
        if (pos < 0) return false;
        pos_ = pos;
        return true;
    }
    std::int64_t tell() const override { return pos_; }
    std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t pos_ = 0;
};
} // namespace

std::unique_ptr<input_file> make_memory_input(std::vector<std::uint8_t> bytes) {
    return std::make_unique<memory_input>(std::move(bytes));
}
} // namespace serflash::platform
