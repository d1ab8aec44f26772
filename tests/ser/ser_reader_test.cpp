#include "ser/ser_reader.h"
#include "ser/ser_writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace serflash::ser {
namespace {

std::vector<std::uint8_t> file_bytes(const ser_header& h, const std::vector<std::uint16_t>& samples = {}) {
    const auto head = encode_header(h);
    std::vector<std::uint8_t> bytes(head.begin(), head.end());
    for (const std::uint16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s));
        if (h.PixelDepthPerPlane != 8) bytes.push_back(static_cast<std::uint8_t>(s >> 8));
    }
    return bytes;
}

ser_reader reader_over(std::vector<std::uint8_t> bytes) {
    ser_reader r(platform::make_memory_input(std::move(bytes)));
    r.read_ser_header();
    return r;
}

// A file of any size that reads as zeros and remembers where it was sent.
class recording_file final : public platform::input_file {
public:
    explicit recording_file(ser_header h) : head_(encode_header(h)) {}
    std::size_t read(void* dst, std::size_t n) override {
        auto* out = static_cast<std::uint8_t*>(dst);
        for (std::size_t i = 0; i < n; ++i) {
            const std::int64_t at = pos_ + static_cast<std::int64_t>(i);
            out[i] = at < header_size ? head_[static_cast<std::size_t>(at)] : 0;
        }
        pos_ += static_cast<std::int64_t>(n);
        return n;
    }
    bool seek(std::int64_t pos) override {
        last_seek = pos;
        pos_ = pos;
        return true;
    }
    std::int64_t tell() const override { return pos_; }
    std::int64_t size() const override { return std::int64_t{1} << 40; }
    std::int64_t last_seek = -1;

private:
    std::array<std::uint8_t, header_size> head_;
    std::int64_t pos_ = 0;
};

std::int64_t seek_target(const ser_header& h, std::int32_t k) {
    auto file = std::make_unique<recording_file>(h);
    recording_file* raw = file.get();
    ser_reader r(std::move(file));
    r.read_ser_header();
    r.seek_frame(k);
    EXPECT_EQ(r.position(), raw->last_seek);
    return raw->last_seek;
}

TEST(SerHeader, TextHasThirteenLinesWithFieldsAsStored) {
    ser_header h = make_header(640, 480, 16, 1000);
    set_text(h.FileID, "ABCDEFGHIJKLMNOP"); // 14 bytes kept, no NUL in the field
    h.LuID = -7;
    h.ColorID = 0;
    h.LittleEndian = 1;
    set_text(h.Observer, std::string(40, 'o'));
    // Instrument stays all NUL.
    set_text(h.Telescope, "C14 \x93\xfa"); // code page 932 bytes pass unchanged
    h.Datetime = 4294967301;
    h.DatetimeUTC = -1;
    ser_reader r(platform::make_memory_input(file_bytes(h)));
    const std::string& text = r.read_ser_header();
    const std::string sep = "\x81\x46";
    const std::string expected =
        "FileID(14byte)" + sep + "ABCDEFGHIJKLMN\r\n" + "LuID(int)" + sep + "-7\r\n" + "ColorID(int)" + sep + "0\r\n" +
        "LittleEndian(int)" + sep + "1\r\n" + "ImageWidth(int)" + sep + "640\r\n" + "ImageHeight(int)" + sep +
        "480\r\n" + "PixelDepthPerPlane(int)" + sep + "16\r\n" + "FrameCount(int)" + sep + "1000\r\n" +
        "Observer(40byte)" + sep + std::string(40, 'o') + "\r\n" + "Instrument(40byte)" + sep + "\r\n" +
        "Telescope(40byte)" + sep + "C14 \x93\xfa\r\n" + "Datetime:4294967301\r\n" + "Datetime UTC:-1\r\n";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(r.position(), header_size);
    EXPECT_EQ(r.width(), 640);
    EXPECT_EQ(r.height(), 480);
    EXPECT_EQ(r.depth(), 16);
    EXPECT_EQ(r.frame_count(), 1000);
}

TEST(SerHeader, ExtremeDatesAndNegativeFields) {
    ser_header h = make_header(-1, std::numeric_limits<std::int32_t>::min(), 12, -5);
    h.Datetime = std::numeric_limits<std::int64_t>::min();
    h.DatetimeUTC = std::numeric_limits<std::int64_t>::max();
    const std::string text = reader_over(file_bytes(h)).header_text();
    EXPECT_NE(text.find("ImageWidth(int)\x81\x46-1\r\n"), std::string::npos);
    EXPECT_NE(text.find("ImageHeight(int)\x81\x46-2147483648\r\n"), std::string::npos);
    EXPECT_NE(text.find("FrameCount(int)\x81\x46-5\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nDatetime:-9223372036854775808\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nDatetime UTC:9223372036854775807\r\n"), std::string::npos);
}

TEST(SerHeader, MissingBytesReadAsZero) {
    ser_header h = make_header(0x12345, 480, 16, 9);
    set_text(h.FileID, "ID");
    auto bytes = file_bytes(h);
    bytes.resize(28); // two of ImageWidth's four bytes, nothing after
    ser_reader r = reader_over(bytes);
    EXPECT_EQ(r.width(), 0x2345);
    EXPECT_EQ(r.height(), 0);
    EXPECT_EQ(r.frame_count(), 0);
    EXPECT_EQ(r.header().Datetime, 0);
    const std::string& text = r.header_text();
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 13u);
    EXPECT_EQ(text.substr(text.size() - 16), "Datetime UTC:0\r\n");

    ser_reader empty = reader_over({});
    EXPECT_EQ(empty.header_text().substr(0, 18), "FileID(14byte)\x81\x46\r\n");
    EXPECT_FALSE(empty.check_geometry().ok());
    EXPECT_EQ(empty.frames_present(), 0);
}

TEST(SerSeek, OffsetsInSixtyFourBits) {
    EXPECT_EQ(seek_target(make_header(640, 480, 16, 10), 0), 178);
    EXPECT_EQ(seek_target(make_header(640, 480, 16, 10), 3), 178 + 3 * 640 * 480 * 2);
    EXPECT_EQ(seek_target(make_header(640, 480, 8, 10), 3), 178 + 3 * 640 * 480);
    EXPECT_EQ(seek_target(make_header(640, 480, 12, 10), 3), 178 + 3 * 640 * 480 * 2);
    // Beyond 4 GiB, where 32-bit products wrap.
    EXPECT_EQ(seek_target(make_header(4096, 4096, 16, 2000), 1000), 178 + std::int64_t{1000} * 4096 * 4096 * 2);
    EXPECT_EQ(seek_target(make_header(8192, 8192, 16, 1), std::numeric_limits<std::int32_t>::max()),
              178 + std::int64_t{std::numeric_limits<std::int32_t>::max()} * 8192 * 8192 * 2);
}

TEST(SerSeek, ImpossiblePositionsReadAsZeros) {
    ser_header h = make_header(2, 1, 16, 2);
    ser_reader r(platform::make_memory_input(file_bytes(h, {1, 2, 3, 4})));
    r.read_ser_header();
    std::vector<std::uint16_t> buf(2, 99);
    r.seek_frame(-200); // before the start of the file
    r.read_frame(buf);
    EXPECT_EQ(buf, (std::vector<std::uint16_t>{0, 0}));
    r.seek_frame(1);
    r.read_frame(buf);
    EXPECT_EQ(buf, (std::vector<std::uint16_t>{3, 4}));
}

TEST(SerFrames, SixteenBitShifts) {
    ser_header h = make_header(3, 1, 16, 1);
    const auto bytes = file_bytes(h, {1000, 65535, 0x8001});
    struct shift_case {
        std::int32_t typed;
        std::vector<std::uint16_t> expected;
    };
    const shift_case cases[] = {
        {0, {1000, 65535, 0x8001}}, {2, {250, 16383, 0x2000}},  {8, {3, 255, 0x80}}, {15, {0, 1, 1}}, {16, {0, 1, 1}},
        {1000, {0, 1, 1}},          {-1, {1000, 65535, 0x8001}}};
    for (const auto& c : cases) {
        ser_reader r = reader_over(bytes);
        r.set_bit_shift(c.typed);
        EXPECT_GE(r.bit_shift(), 0);
        EXPECT_LE(r.bit_shift(), 15);
        std::vector<std::uint16_t> buf(3);
        r.read_frame(buf);
        EXPECT_EQ(buf, c.expected) << "shift " << c.typed;
        EXPECT_EQ(r.position(), 178 + 6);
    }
}

// The shift every frame reader applies, over every sample and shift (the vector body and the
// tail both).
TEST(SerFrames, ShiftSamplesIsAPlainShiftOfEverySample) {
    std::vector<std::uint16_t> all(65536 + 5);
    for (unsigned shift = 0; shift < 16; ++shift) {
        for (std::size_t s = 0; s < all.size(); ++s) all[s] = static_cast<std::uint16_t>(s);
        shift_samples(all.data(), all.size(), shift);
        for (std::size_t s = 0; s < all.size(); ++s)
            ASSERT_EQ(all[s], static_cast<std::uint16_t>(s) >> shift) << "sample " << s << " shift " << shift;
    }
}

TEST(SerFrames, EightBitWidensAndIgnoresShift) {
    ser_header h = make_header(2, 2, 8, 2);
    ser_reader r = reader_over(file_bytes(h, {200, 0, 255, 1, 7, 8, 9, 10}));
    r.set_bit_shift(5);
    std::vector<std::uint16_t> buf(4);
    r.read_frame(buf);
    EXPECT_EQ(buf, (std::vector<std::uint16_t>{200, 0, 255, 1}));
    EXPECT_EQ(r.position(), 178 + 4);
    r.read_frame(buf);
    EXPECT_EQ(buf, (std::vector<std::uint16_t>{7, 8, 9, 10}));
}

TEST(SerFrames, SequentialReadsMatchSeek) {
    for (const std::int32_t depth : {8, 16}) {
        ser_header h = make_header(4, 3, depth, 3);
        std::vector<std::uint16_t> samples;
        for (std::uint16_t i = 0; i < 36; ++i) samples.push_back(static_cast<std::uint16_t>(i * 7 + 1));
        ser_reader seq = reader_over(file_bytes(h, samples));
        std::vector<std::uint16_t> a(12), b(12);
        for (int k = 0; k < 3; ++k) seq.read_frame(a);
        ser_reader direct = reader_over(file_bytes(h, samples));
        direct.seek_frame(2);
        direct.read_frame(b);
        EXPECT_EQ(a, b) << depth;
        EXPECT_EQ(a.front(), 24 * 7 + 1) << depth;
    }
}

TEST(SerFrames, OtherDepthsGiveZerosWithoutMoving) {
    ser_header h = make_header(2, 2, 12, 1);
    ser_reader r = reader_over(file_bytes(h, {5, 6, 7, 8}));
    std::vector<std::uint16_t> buf(4, 77);
    r.read_frame(buf);
    EXPECT_EQ(buf, std::vector<std::uint16_t>(4, 0));
    EXPECT_EQ(r.position(), 178);
    EXPECT_EQ(r.file().tell(), 178);
}

TEST(SerFrames, CutOffFrameReadsZerosAndMovesOn) {
    ser_header h = make_header(4, 1, 16, 2);
    auto bytes = file_bytes(h, {1, 2, 3, 4, 0x1234, 0x5678});
    bytes.pop_back(); // last sample keeps only its low byte
    ser_reader r = reader_over(bytes);
    std::vector<std::uint16_t> buf(4, 99);
    r.seek_frame(1);
    r.read_frame(buf);
    EXPECT_EQ(buf, (std::vector<std::uint16_t>{0x1234, 0x78, 0, 0}));
    EXPECT_EQ(r.position(), 178 + 16);
    r.read_frame(buf);
    EXPECT_EQ(buf, std::vector<std::uint16_t>(4, 0));
    EXPECT_EQ(r.frames_present(), 1);
}

TEST(SerGeometry, ProblemsAreNamed) {
    const auto problem = [](std::int32_t w, std::int32_t hgt, std::int32_t depth) {
        return reader_over(file_bytes(make_header(w, hgt, depth, 1))).check_geometry().reason();
    };
    EXPECT_EQ(problem(0, 480, 16), "image width is 0");
    EXPECT_EQ(problem(640, -3, 16), "image height is -3");
    EXPECT_EQ(problem(-640, -480, 16), "image width is -640"); // the product would look fine
    EXPECT_EQ(problem(8192, 8192, 16), "");
    EXPECT_EQ(problem(1, 1, 8), "");
    EXPECT_NE(problem(8193, 8192, 16), "");
    EXPECT_NE(problem(65536, 65536, 8), ""); // W x H wraps to 0 in 32 bits
    EXPECT_NE(problem(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(), 16), "");

    // A refused frame has no size: its bytes would overflow 64 bits in an RGB file.
    ser_header huge =
        make_header(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(), 16, 1);
    huge.ColorID = 100;
    const ser_reader r = reader_over(file_bytes(huge));
    EXPECT_EQ(r.frame_bytes(), 0);
    EXPECT_EQ(r.frames_present(), 0);
}

TEST(SerGeometry, FramesPresentFromFileSize) {
    const auto present = [](std::int32_t declared, std::size_t data_bytes, std::int32_t w = 2) {
        auto bytes = file_bytes(make_header(w, 2, 16, declared));
        bytes.resize(bytes.size() + data_bytes, 1);
        return reader_over(bytes);
    };
    EXPECT_EQ(present(3, 24).frames_present(), 3);
    EXPECT_EQ(present(3, 24).trailing_bytes(), 0);
    EXPECT_EQ(present(3, 24 + 5).frames_present(), 3);
    EXPECT_EQ(present(3, 24 + 5).trailing_bytes(), 5);
    EXPECT_EQ(present(5, 8 * 3 + 7).frames_present(), 3); // capture cut short
    EXPECT_EQ(present(5, 0).frames_present(), 0);
    EXPECT_EQ(present(0, 16).frames_present(), 2); // count never written: what is there
    EXPECT_EQ(present(-4, 16).frames_present(), 2);
    EXPECT_EQ(present(3, 24, 0).frames_present(), 0);
    EXPECT_EQ(present(3, 24, -2).frames_present(), 0);
    auto shorter = file_bytes(make_header(2, 2, 16, 3));
    shorter.resize(100);
    EXPECT_EQ(reader_over(shorter).frames_present(), 0);
}

} // namespace
} // namespace serflash::ser

namespace serflash::ser {
namespace {

// A file another program wrote: its header fields as that program filled them, frames in
// the orientation and byte order it chose, and its per-frame time stamps after the frames.
TEST(SerOtherWriters, ConvertedFitsSequence) {
    const std::string path = std::string(SERFLASH_TEST_DATA) + "/converted_fits_16bit.ser";
    auto file = platform::native_file_system().open_read(path);
    ASSERT_TRUE(file) << path << ": " << file.reason();
    std::array<char, 14> raw_id{};
    ASSERT_EQ(file->read(raw_id.data(), raw_id.size()), raw_id.size());
    ser_reader r(std::move(file.value()));
    const std::string& text = r.read_ser_header();
    const std::string sep = "\x81\x46";
    const std::string id(raw_id.begin(), raw_id.end());
    EXPECT_EQ(id.find('\0'), std::string::npos); // all 14 bytes used, no terminator
    EXPECT_EQ(text, "FileID(14byte)" + sep + id + "\r\nLuID(int)" + sep + "0\r\nColorID(int)" + sep +
                        "0\r\nLittleEndian(int)" + sep + "0\r\nImageWidth(int)" + sep + "32\r\nImageHeight(int)" + sep +
                        "24\r\nPixelDepthPerPlane(int)" + sep + "16\r\nFrameCount(int)" + sep +
                        "3\r\nObserver(40byte)" + sep + "Test Observer\r\nInstrument(40byte)" + sep +
                        "Test Cam\r\nTelescope(40byte)" + sep + "Test Scope\r\n" +
                        "Datetime:638449209300000000\r\nDatetime UTC:0\r\n");
    EXPECT_TRUE(r.check_geometry().ok());
    EXPECT_EQ(r.frames_present(), 3);
    EXPECT_EQ(r.trailing_bytes(), 3 * 8);

    std::vector<std::uint16_t> frame(32 * 24);
    r.seek_frame(2);
    r.read_frame(frame);
    EXPECT_EQ(frame[0], 1000 + 100 * 23 + 14); // top row first
    EXPECT_EQ(frame[31], 1000 + 310 + 100 * 23 + 14);
    EXPECT_EQ(frame[23 * 32 + 5], 1000 + 50 + 14); // bottom row last
    r.set_bit_shift(2);
    r.seek_frame(0);
    r.read_frame(frame);
    EXPECT_EQ(frame[0], (1000 + 100 * 23) >> 2);
}

TEST(SerFrames, EmptyBufferStillMovesOneFrame) {
    ser_header h = make_header(2, 2, 16, 2);
    ser_reader r = reader_over(file_bytes(h, {1, 2, 3, 4, 5, 6, 7, 8}));
    std::span<std::uint16_t> none;
    r.read_frame(none);
    EXPECT_EQ(r.position(), 178 + 8);
    std::vector<std::uint16_t> buf(4);
    r.read_frame(buf);
    EXPECT_EQ(buf, (std::vector<std::uint16_t>{5, 6, 7, 8}));
}

} // namespace
} // namespace serflash::ser

namespace serflash::ser {
namespace {

// Frames long enough for the vector loops and with a remainder for the scalar tail.
TEST(SerFrames, WholeFramesConvertEverySample) {
    for (const std::int32_t depth : {8, 16}) {
        for (const std::int32_t shift : {0, 3, 15}) {
            ser_header h = make_header(37, 3, depth, 1);
            std::vector<std::uint16_t> stored(111);
            for (std::size_t i = 0; i < stored.size(); ++i)
                stored[i] = static_cast<std::uint16_t>(depth == 8 ? (i * 37 + 11) % 256 : i * 2731 + 65000);
            ser_reader r = reader_over(file_bytes(h, stored));
            r.set_bit_shift(shift);
            std::vector<std::uint16_t> buf(111, 1);
            r.read_frame(buf);
            for (std::size_t i = 0; i < stored.size(); ++i) {
                const auto expected = depth == 8 ? stored[i] : static_cast<std::uint16_t>(stored[i] >> shift);
                ASSERT_EQ(buf[i], expected) << "depth " << depth << " shift " << shift << " sample " << i;
            }
        }
    }
}

} // namespace
} // namespace serflash::ser
