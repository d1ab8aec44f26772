#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

namespace serflash::platform {
namespace {

std::string errno_text(int err) { return std::strerror(err); }

class native_input final : public input_file {
public:
    native_input(int fd, std::int64_t size_at_open) : fd_(fd), size_at_open_(size_at_open) {}
    ~native_input() override {
        if (mapping_ != nullptr) ::munmap(const_cast<char*>(mapping_), static_cast<std::size_t>(size_at_open_));
        ::close(fd_);
    }
    native_input(const native_input&) = delete;
    native_input& operator=(const native_input&) = delete;

    std::size_t read(void* dst, std::size_t n) override {
        auto* out = static_cast<unsigned char*>(dst);
        std::size_t done = 0;
        int err = 0;
        while (done < n) {
            const ssize_t got = ::read(fd_, out + done, n - done);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) err = errno;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        note_short_read(pos_, n, done, err);
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
        int err = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(pos) + static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) err = errno;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        note_short_read(pos, n, done, err);
        return done;
    }
    bool concurrent_reads() const override { return true; }
    bool in_memory(std::int64_t pos, std::size_t n) const override {
        const long page_size = ::sysconf(_SC_PAGESIZE);
        if (pos < 0 || n == 0 || page_size <= 0) return false;
        if (pos > size_at_open_ || static_cast<std::int64_t>(n) > size_at_open_ - pos) return false;
        // The file is mapped once, without touching its pages, which reads nothing; mincore
        // then tells which pages of a range are cached, a few thousand at a call.
        const char* mapped = mapping();
        if (mapped == nullptr) return false;
        const auto page = static_cast<std::size_t>(page_size);
        const auto start = static_cast<std::size_t>(pos) / page * page;
        const std::size_t end = static_cast<std::size_t>(pos) + n;
        constexpr std::size_t pages_per_call = 4096;
        unsigned char resident[pages_per_call];
        for (std::size_t at = start; at < end;) {
            const std::size_t length = std::min(end - at, pages_per_call * page);
            if (::mincore(const_cast<char*>(mapped) + at, length, resident) != 0) return false;
            const std::size_t pages = (length + page - 1) / page;
            for (std::size_t k = 0; k < pages; ++k)
                if ((resident[k] & 1U) == 0) return false;
            at += length;
        }
        return true;
    }
    std::size_t fetch(std::int64_t pos, std::size_t n, std::vector<std::uint8_t>& /*scratch*/) override {
        const std::int64_t end = std::min(pos + static_cast<std::int64_t>(n), size());
        if (pos < 0 || end <= pos) return 0;
        // The system reads the pages in; reading the last byte then waits for the reads before
        // it, which were asked for first. Nothing is copied out.
        will_need(pos, end - pos);
        unsigned char last = 0;
        if (read_at(end - 1, &last, 1) != 1) return 0;
        return static_cast<std::size_t>(end - pos);
    }
    void will_need(std::int64_t pos, std::int64_t n) override {
        // The system takes such a hint for a limited stretch at a time (the larger of the
        // device's read-ahead and its largest request): a longer range goes in pieces.
        const std::int64_t piece = hint_piece();
        if (pos < 0) return;
        for (std::int64_t at = pos; at < pos + n; at += piece)
            ::posix_fadvise(fd_, static_cast<off_t>(at), static_cast<off_t>(std::min(piece, pos + n - at)),
                            POSIX_FADV_WILLNEED);
    }

    std::optional<read_failure> first_failed_read() const override {
        const std::lock_guard lock(failure_mutex_);
        return failure_;
    }

private:
    // A read that stops short of what the file held when it was opened is a failure, not the
    // end of the file: an error, or a file cut short while it is read.
    void note_short_read(std::int64_t pos, std::size_t n, std::size_t done, int err) {
        if (pos < 0 || pos >= size_at_open_) return;
        const auto expected =
            static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), size_at_open_ - pos));
        if (done >= expected && err == 0) return;
        const std::lock_guard lock(failure_mutex_);
        if (failure_) return;
        failure_ =
            read_failure{pos + static_cast<std::int64_t>(done),
                         err != 0 ? errno_text(err)
                                  : "the file ends at byte " + std::to_string(pos + static_cast<std::int64_t>(done)) +
                                        ", but held " + std::to_string(size_at_open_) + " bytes when it was opened"};
    }

    // The whole file mapped for reading (made at the first call; null when it cannot be).
    const char* mapping() const {
        std::call_once(mapping_made_, [this] {
            if (size_at_open_ <= 0) return;
            void* p = ::mmap(nullptr, static_cast<std::size_t>(size_at_open_), PROT_READ, MAP_SHARED, fd_, 0);
            if (p != MAP_FAILED) mapping_ = static_cast<const char*>(p);
        });
        return mapping_;
    }

    // Bytes the system reads ahead for one hint on this file's device, from what the device
    // tells of itself; 128 KiB, the usual read-ahead, when it tells nothing.
    std::int64_t hint_piece() {
        std::call_once(piece_found_, [this] {
            struct stat st {};
            if (::fstat(fd_, &st) != 0) return;
            const std::string device =
                "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
            std::int64_t kib = 0;
            // A partition's queue is its disk's, one folder up.
            for (const char* queue : {"/queue/", "/../queue/"})
                for (const char* name : {"read_ahead_kb", "max_sectors_kb"}) {
                    if (FILE* f = std::fopen((device + queue + name).c_str(), "r")) {
                        long long v = 0;
                        if (std::fscanf(f, "%lld", &v) == 1) kib = std::max<std::int64_t>(kib, v);
                        std::fclose(f);
                    }
                }
            if (kib > 128) piece_ = std::min<std::int64_t>(kib, std::int64_t{1} << 20) << 10;
        });
        return piece_;
    }

    int fd_;
    std::int64_t size_at_open_;
    std::int64_t pos_ = 0;
    mutable std::mutex failure_mutex_;
    std::optional<read_failure> failure_;
    mutable std::once_flag mapping_made_;
    mutable const char* mapping_ = nullptr;
    std::once_flag piece_found_;
    std::int64_t piece_ = std::int64_t{128} << 10;
};

// Buffered writes straight to the descriptor, so that a failure keeps the system's reason.
class native_output final : public output_file {
public:
    explicit native_output(int fd) : fd_(fd) {}
    ~native_output() override {
        if (fd_ >= 0) ::close(fd_);
    }
    native_output(const native_output&) = delete;
    native_output& operator=(const native_output&) = delete;

    bool write(const void* src, std::size_t n) override {
        if (fd_ < 0 || failed_) return false;
        const auto* p = static_cast<const unsigned char*>(src);
        if (buffer_.size() + n <= buffer_capacity) {
            buffer_.insert(buffer_.end(), p, p + n);
            return true;
        }
        if (n < buffer_capacity) {
            if (!write_buffer()) return false;
            buffer_.insert(buffer_.end(), p, p + n);
            return true;
        }
        // A large piece goes out with what is buffered before it in one call: a snapshot's
        // headers and pixels are one write.
        const bool ok = write_all(buffer_.data(), buffer_.size(), p, n);
        buffer_.clear();
        return ok;
    }
    bool close() override {
        if (fd_ < 0) return !failed_;
        write_buffer();
        if (::close(fd_) != 0 && !failed_) fail(errno);
        fd_ = -1;
        return !failed_;
    }
    std::string error() const override { return error_; }
    bool flush() override { return fd_ >= 0 && write_buffer(); }

private:
    static constexpr std::size_t buffer_capacity = std::size_t{1} << 16;

    void fail(int err) {
        failed_ = true;
        error_ = errno_text(err);
    }
    // Writes the n bytes at p, then the m bytes at q (none by default), as few calls as the
    // system takes them in.
    bool write_all(const unsigned char* p, std::size_t n, const unsigned char* q = nullptr, std::size_t m = 0) {
        while (n + m > 0) {
            iovec parts[2];
            int count = 0;
            if (n > 0) parts[count++] = {const_cast<unsigned char*>(p), n};
            if (m > 0) parts[count++] = {const_cast<unsigned char*>(q), m};
            const ssize_t put = ::writev(fd_, parts, count);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                fail(put < 0 ? errno : EIO);
                return false;
            }
            auto done = static_cast<std::size_t>(put);
            const std::size_t from_first = std::min(done, n);
            p += from_first;
            n -= from_first;
            done -= from_first;
            q += done;
            m -= done;
        }
        return true;
    }
    bool write_buffer() {
        if (failed_) return false;
        const bool ok = write_all(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }

    int fd_;
    std::vector<unsigned char> buffer_;
    bool failed_ = false;
    std::string error_;
};

// Clears O_NONBLOCK, set only so that opening could not wait.
bool make_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

class native_fs final : public file_system {
public:
    bool concurrent_writes() override { return true; }
    result<std::unique_ptr<input_file>> open_read(const std::string& path) override {
        // Non-blocking, so that a FIFO or a device cannot hold the open; checked on the open
        // descriptor itself, so that nothing can be swapped in between.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return status::failure(errno_text(errno));
        const auto refuse = [fd](std::string why) {
            ::close(fd);
            return status::failure(std::move(why));
        };
        struct stat st {};
        if (::fstat(fd, &st) != 0) return refuse(errno_text(errno));
        if (!S_ISREG(st.st_mode)) return refuse("it is not a regular file");
        if (!make_blocking(fd)) return refuse(errno_text(errno));
        return std::unique_ptr<input_file>(std::make_unique<native_input>(fd, static_cast<std::int64_t>(st.st_size)));
    }
    result<std::unique_ptr<output_file>> open_write(const std::string& path, write_mode mode) override {
        const int how = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK |
                        (mode == write_mode::append ? O_APPEND : O_TRUNC);
        const int fd = ::open(path.c_str(), how, 0666);
        if (fd < 0) {
            const int err = errno;
            return status::failure(err == ELOOP && kind_of(path) == entry_kind::link
                                       ? "it is a symbolic link, which is never written through"
                                       : errno_text(err));
        }
        if (!make_blocking(fd)) {
            const int err = errno;
            ::close(fd);
            return status::failure(errno_text(err));
        }
        return std::unique_ptr<output_file>(std::make_unique<native_output>(fd));
    }
    status make_dir(const std::string& path) override {
        if (::mkdir(path.c_str(), 0777) == 0) return {};
        return status::failure(errno_text(errno));
    }
    bool exists(const std::string& path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    entry_kind kind_of(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return errno == ENOENT || errno == ENOTDIR ? entry_kind::missing : entry_kind::other;
        if (S_ISREG(st.st_mode)) return entry_kind::file;
        if (S_ISDIR(st.st_mode)) return entry_kind::directory;
        if (S_ISLNK(st.st_mode)) return entry_kind::link;
        return entry_kind::other;
    }
    bool is_empty_dir(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) return false;
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            return false;
        }
        bool empty = true;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                empty = false;
                break;
            }
        }
        ::closedir(dir);
        return empty;
    }
    status rename_replacing(const std::string& from, const std::string& to) override {
        if (std::rename(from.c_str(), to.c_str()) == 0) return {};
        return status::failure(errno_text(errno));
    }
    status remove_file(const std::string& path) override {
        if (::unlink(path.c_str()) == 0) return {};
        return status::failure(errno_text(errno));
    }
    status rename_no_replace(const std::string& from, const std::string& to) override {
        // rename(2) silently replaces an empty folder: ask the kernel not to replace, and fall
        // back to check-then-rename on file systems that do not support that flag.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
        if (errno != EINVAL && errno != ENOSYS) return status::failure(errno_text(errno));
        if (exists(to)) return status::failure(errno_text(EEXIST));
        if (std::rename(from.c_str(), to.c_str()) == 0) return {};
        return status::failure(errno_text(errno));
    }
};

} // namespace

file_system& native_file_system() {
    static native_fs fs = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        return native_fs{};
    }();
    return fs;
}

status write_whole_file(file_system& fs, const std::string& path, std::initializer_list<byte_piece> pieces) {
    const bool replacing = fs.kind_of(path) != entry_kind::missing;
    const std::string target = replacing ? path + ".part" : path;
    auto opened = fs.open_write(target, write_mode::truncate);
    if (!opened) return status::failure(opened.reason().empty() ? "it cannot be created" : opened.reason());
    const std::unique_ptr<output_file> out = std::move(opened.value());
    bool ok = true;
    for (const byte_piece& p : pieces) ok = ok && out->write(p.data, p.size);
    ok = out->close() && ok;
    if (!ok) {
        const std::string why = out->error();
        if (replacing) static_cast<void>(fs.remove_file(target)); // the old file stays as it was
        return status::failure(why.empty() ? "it could not be written" : why);
    }
    if (!replacing) return {};
    if (const status moved = fs.rename_replacing(target, path); !moved) {
        static_cast<void>(fs.remove_file(target));
        return moved;
    }
    return {};
}

status write_whole_file(file_system& fs, const std::string& path, std::string_view bytes) {
    return write_whole_file(fs, path, {byte_piece{bytes.data(), bytes.size()}});
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
