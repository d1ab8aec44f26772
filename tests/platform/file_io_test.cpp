#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

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
    std::string why;
    // No writer: a blocking open would wait for ever.
    EXPECT_EQ(fs.open_read(dir / "fifo", &why), nullptr);
    EXPECT_EQ(why, "it is not a regular file");
    why.clear();
    EXPECT_EQ(fs.open_read(dir.path(), &why), nullptr);
    EXPECT_EQ(why, "it is not a regular file");

    std::ofstream(dir / "real") << "abc";
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    auto in = fs.open_read(dir / "link", &why); // inputs may be links to regular files
    ASSERT_NE(in, nullptr) << why;
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
        std::string why;
        EXPECT_EQ(fs.open_write(dir / "link", mode, &why), nullptr);
        EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
    }
    EXPECT_EQ(text_of(dir / "target"), "keep");

    auto out = fs.open_write(dir / "new", write_mode::truncate);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->write("12", 2));
    EXPECT_TRUE(out->close());
    auto more = fs.open_write(dir / "new", write_mode::append);
    ASSERT_NE(more, nullptr);
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
    ASSERT_NE(out, nullptr);
    const std::vector<char> block(1 << 17, 'x'); // more than the buffer: written at once
    EXPECT_FALSE(out->write(block.data(), block.size()));
    EXPECT_EQ(out->error(), "No space left on device");
    EXPECT_FALSE(out->close());

    auto small = native_file_system().open_write("/dev/full", write_mode::append);
    ASSERT_NE(small, nullptr);
    EXPECT_TRUE(small->write("x", 1)); // buffered
    EXPECT_FALSE(small->close());
    EXPECT_EQ(small->error(), "No space left on device");
}

} // namespace
} // namespace serflash::platform
