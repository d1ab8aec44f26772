#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace serflash::platform {
namespace {

class temp_dir {
public:
    temp_dir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "serflash-io-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~temp_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string text_of(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(NativeFiles, OnlyRegularFilesAreRead) {
    temp_dir dir;
    file_system& fs = native_file_system();
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // No writer: a blocking open would wait for ever.
    const auto fifo = fs.open_read(dir / "fifo");
    EXPECT_FALSE(fifo);
    EXPECT_EQ(fifo.reason(), "it is not a regular file");
    const auto folder = fs.open_read(dir.path());
    EXPECT_FALSE(folder);
    EXPECT_EQ(folder.reason(), "it is not a regular file");

    std::ofstream(dir / "real") << "abc";
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    auto in = fs.open_read(dir / "link"); // inputs may be links to regular files
    ASSERT_TRUE(in) << in.reason();
    char buf[4] = {};
    EXPECT_EQ(in->read(buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
}

TEST(NativeFiles, WritesNeverGoThroughALink) {
    temp_dir dir;
    file_system& fs = native_file_system();
    std::ofstream(dir / "target") << "keep";
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    for (const write_mode mode : {write_mode::truncate, write_mode::append}) {
        const auto refused = fs.open_write(dir / "link", mode);
        EXPECT_FALSE(refused);
        EXPECT_NE(refused.reason().find("symbolic link"), std::string::npos) << refused.reason();
    }
    EXPECT_EQ(text_of(dir / "target"), "keep");

    auto out = fs.open_write(dir / "new", write_mode::truncate);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->write("12", 2));
    EXPECT_TRUE(out->close());
    auto more = fs.open_write(dir / "new", write_mode::append);
    ASSERT_TRUE(more);
    EXPECT_TRUE(more->write("3", 1));
    EXPECT_TRUE(more->close());
    EXPECT_EQ(text_of(dir / "new"), "123");
    EXPECT_EQ(more->error(), "");
}

TEST(NativeFiles, KindsOfEntries) {
    temp_dir dir;
    file_system& fs = native_file_system();
    std::ofstream(dir / "file") << "x";
    ASSERT_EQ(::mkdir((dir / "empty").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "empty").c_str(), (dir / "dirlink").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(fs.kind_of(dir / "file"), entry_kind::file);
    EXPECT_EQ(fs.kind_of(dir / "empty"), entry_kind::directory);
    EXPECT_EQ(fs.kind_of(dir / "dangling"), entry_kind::link);
    EXPECT_EQ(fs.kind_of(dir / "dirlink"), entry_kind::link);
    EXPECT_EQ(fs.kind_of(dir / "fifo"), entry_kind::other);
    EXPECT_EQ(fs.kind_of(dir / "missing"), entry_kind::missing);
    EXPECT_EQ(fs.kind_of(dir / "file/below"), entry_kind::missing);
    EXPECT_TRUE(fs.is_empty_dir(dir / "empty"));
    EXPECT_FALSE(fs.is_empty_dir(dir / "dirlink"));
    EXPECT_FALSE(fs.is_empty_dir(dir.path()));
    EXPECT_FALSE(fs.is_empty_dir(dir / "file"));
}

TEST(NativeFiles, FailedWritesSayWhy) {
    auto out = native_file_system().open_write("/dev/full", write_mode::truncate);
    ASSERT_TRUE(out);
    const std::vector<char> block(1 << 17, 'x'); // more than the buffer: written at once
    EXPECT_FALSE(out->write(block.data(), block.size()));
    EXPECT_EQ(out->error(), "No space left on device");
    EXPECT_FALSE(out->close());

    auto small = native_file_system().open_write("/dev/full", write_mode::append);
    ASSERT_TRUE(small);
    EXPECT_TRUE(small->write("x", 1)); // buffered
    EXPECT_FALSE(small->close());
    EXPECT_EQ(small->error(), "No space left on device");
}

TEST(NativeFiles, AFileJustWrittenIsInMemory) {
    char name[] = "/tmp/serflash_cached_XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    const std::vector<char> bytes(1 << 16, 'x');
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    auto in = platform::native_file_system().open_read(name);
    ASSERT_TRUE(in);
    EXPECT_TRUE(in.value()->in_memory(100, 30000));
    EXPECT_FALSE(in.value()->in_memory(100, std::size_t{1} << 20)); // beyond the end of the file
    EXPECT_FALSE(in.value()->in_memory(-1, 10));
    ::unlink(name);
}

// A stretch the system let go of is fetched without being copied out: fetch asks for every page
// and waits for the read of the last, so that page is in memory when it returns. Whether the
// pages before it have arrived by then is the system's timing, and not asked here. A stretch
// over the end of the file gives the bytes the file holds, past it nothing.
TEST(NativeFiles, FetchReadsWithoutCopyingAndCountsTheBytesTheFileHolds) {
    char name[] = "/tmp/serflash_fetch_XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    const std::size_t size = std::size_t{3} << 20;
    const std::vector<char> bytes(size, 'y');
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(::fsync(fd), 0);
    // Clean pages can be let go of by anyone; whether they are is the system's business.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    auto in = platform::native_file_system().open_read(name);
    ASSERT_TRUE(in);
    std::vector<std::uint8_t> scratch;
    const std::size_t stretch = std::size_t{2} << 20;
    EXPECT_EQ(in.value()->fetch(0, stretch, scratch), stretch);
    EXPECT_TRUE(in.value()->in_memory(static_cast<std::int64_t>(stretch) - 1, 1)); // the page it waited for
    EXPECT_TRUE(scratch.empty());                                                  // nothing was copied out
    EXPECT_EQ(in.value()->fetch(static_cast<std::int64_t>(size) - 100, 4096, scratch), 100U);
    EXPECT_EQ(in.value()->fetch(static_cast<std::int64_t>(size), 4096, scratch), 0U);
    EXPECT_EQ(in.value()->fetch(-1, 4096, scratch), 0U);
    EXPECT_TRUE(scratch.empty());
    ::unlink(name);
}

} // namespace
} // namespace serflash::platform
