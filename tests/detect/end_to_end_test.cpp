// Whole batch runs over generated files on the real file system, checked against a small
// oracle written here from the description of the scan (plain loops, no engine code), and
// against the flashes the generator put in.
#include "detect/batch.h"
#include "platform/file_io.h"
#include "synth/synth.h"
#include "ui/control_ids.h"
#include "ui/dialog_fields.h"
#include "ui/panel_defaults.h"
#include "ui/panel_settings.h"
#include "ui/scan_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace serflash::detect {
namespace {

namespace fs = std::filesystem;

// ---- The oracle -----------------------------------------------------------------------------

struct movie {
    int w = 0, h = 0;
    std::vector<std::vector<std::uint16_t>> frames;
};

movie decode(const std::vector<std::uint8_t>& b) {
    const auto i32 = [&](std::size_t at) {
        return static_cast<int>(static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
                                static_cast<std::uint32_t>(b[at + 2]) << 16 |
                                static_cast<std::uint32_t>(b[at + 3]) << 24);
    };
    movie m;
    m.w = i32(26);
    m.h = i32(30);
    const int depth = i32(34);
    const std::size_t bps = depth == 8 ? 1 : 2;
    const std::size_t fsize = static_cast<std::size_t>(m.w * m.h) * bps;
    for (std::size_t at = 178; at + fsize <= b.size(); at += fsize) {
        std::vector<std::uint16_t> f(static_cast<std::size_t>(m.w * m.h));
        for (std::size_t p = 0; p < f.size(); ++p)
            f[p] = bps == 1 ? b[at + p] : static_cast<std::uint16_t>(b[at + 2 * p] | b[at + 2 * p + 1] << 8);
        m.frames.push_back(std::move(f));
    }
    return m;
}

struct oracle_settings {
    int start = 0, stop = 0, pack = 0, max_frames = 0, init = 60, step = 3, pct = 25, scatter_v = 20, scatter_h = 100;
};

struct oracle_result {
    std::string passes_text; // everything after the header block, with "\n" (not yet CR LF)
    std::set<std::string> snapshots;
    int final_threshold = 0, final_frame = 0;
};

oracle_result oracle(const movie& mv, const oracle_settings& s) {
    const int w = mv.w, h = mv.h;
    std::vector<double> mean(static_cast<std::size_t>(w * h)), sd(mean.size());
    const auto stats = [&](int first) {
        for (std::size_t p = 0; p < mean.size(); ++p) {
            long long sum = 0, sq = 0;
            for (int k = 0; k < s.pack; ++k) {
                const long long x = mv.frames[static_cast<std::size_t>(first + k)][p];
                sum += x;
                sq += x * x;
            }
            const double n = s.pack;
            const double mu = static_cast<double>(sum) / n;
            mean[p] = mu;
            sd[p] = std::sqrt((static_cast<double>(sq) - (n * mu) * mu) / static_cast<double>(s.pack - 1));
        }
        sd[0] = 65536.0; // the four manual rectangles at 0,0,0,0
    };
    oracle_result r;
    char buf[600];
    int det_count = 0, det_frames = 0, cur = 0, threshold = s.init + s.step, init = s.init;
    // Returns 1 when the limit is reached; 0 otherwise.
    const auto examine = [&](int n) {
        for (int k = 0; k < n; ++k, ++cur) {
            const auto& f = mv.frames[static_cast<std::size_t>(cur)];
            std::vector<std::array<int, 2>> hits;
            for (int y = 10; y < h - 10; ++y)
                for (int x = 10; x < w - 10; ++x) {
                    const std::size_t i = static_cast<std::size_t>(y * w + x);
                    const double c = f[i];
                    if (!(c * 10 > threshold * sd[i] + mean[i] * 10)) continue;
                    const double d = c - mean[i];
                    const std::size_t nb[4] = {i - 1, i + 1, i - static_cast<std::size_t>(w),
                                               i + static_cast<std::size_t>(w)};
                    bool ok = true;
                    for (std::size_t j : nb) ok = ok && (f[j] - mean[j]) / d * 100 >= s.pct;
                    if (ok) hits.push_back({x, y});
                }
            if (hits.empty()) continue;
            int y0 = 9999, y1 = -9999, x0 = 9999, x1 = -9999;
            for (auto [x, y] : hits) {
                y0 = std::min(y0, y), y1 = std::max(y1, y), x0 = std::min(x0, x), x1 = std::max(x1, x);
            }
            if (hits.size() > 10 && (y1 - y0 > s.scatter_v || x1 - x0 > s.scatter_h)) return 0;
            for (std::size_t j = 0; j < hits.size(); ++j) {
                ++det_count;
                if (j >= 10) continue;
                const std::size_t i = static_cast<std::size_t>(hits[j][1] * w + hits[j][0]);
                std::snprintf(buf, sizeof buf, "\n%-10d%-10d%-10d%-10d%-10d%-10d%-10d", det_count, cur, hits[j][0],
                              hits[j][1], f[i], static_cast<int>(mean[i]), static_cast<int>(sd[i]));
                r.passes_text += buf;
            }
            std::snprintf(buf, sizeof buf, "%04d_t%02d_%06d.bmp", det_frames, threshold, cur);
            r.snapshots.insert(buf);
            if (++det_frames >= s.max_frames) return 1;
        }
        return 0;
    };
    const int frames = s.stop - s.start + 1;
    while (det_frames < s.max_frames && threshold >= s.step + 45) {
        threshold -= s.step;
        cur = s.start;
        std::snprintf(buf, sizeof buf,
                      "\n------------Detection-----------------------------------------------\nThreshold: %dsigma\n",
                      threshold);
        r.passes_text += buf;
        r.passes_text += "No.       Frame     x         y         count     Average   Standard deviation";
        int result = 0;
        for (int p = 0; p < frames / s.pack && result == 0; ++p) {
            stats(cur);
            result = examine(s.pack);
        }
        if (result == 0 && frames % s.pack != 0) result = examine(frames % s.pack);
        if (result == 1) {
            if (threshold < init) break;
            std::snprintf(buf, sizeof buf,
                          "\n--------------------------------------------------------------------\n"
                          "Number of frames that include detections = %d\nNumber of detections = %d\n\n"
                          "------Too many detections prevented a scan through the file.--------\n\n"
                          "------The threshold is increased, and the file is scanned again.----\n",
                          det_frames, det_count);
            r.passes_text += buf;
            det_frames = det_count = 0;
            init += s.step;
            threshold = init + s.step;
        }
    }
    std::snprintf(buf, sizeof buf,
                  "\n--------------------------------------------------------------------\n"
                  "Number of frames that include detections = %d\nNumber of detections = %d\n"
                  "--------------------------------------------------------------------\n\n",
                  det_frames, det_count);
    r.passes_text += buf;
    r.final_threshold = threshold;
    r.final_frame = cur;
    return r;
}

std::string columns(int frame, int x, int y) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%-10d%-10d%-10d", frame, x, y);
    return buf;
}

std::string crlf(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// ---- The runs -------------------------------------------------------------------------------

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/serflash_e2e_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        ui::set_panel_defaults(fields_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Writes a generated file and lists it with the desktop program's default row.
    synth::ground_truth add(const std::string& name, const synth::params& p) {
        const std::string path = root_ + "/" + name;
        const synth::result made = synth::write_ser(platform::native_file_system(), path, p);
        EXPECT_TRUE(made.ok) << made.error;
        const auto k = static_cast<std::size_t>(table_.list_file);
        table_.file_path[k] = path;
        table_.insert_row(ui::default_row(name, made.truth.frames_written, p.depth, 0));
        ++table_.list_file;
        return made.truth;
    }

    batch_report run() {
        batch_request req;
        req.jobs = ui::jobs_from_table(table_, fields_, 0); // as "Start scan" takes them
        req.results_parent = root_;
        req.hooks.message = [this](const engine_message& m) {
            messages_.push_back(std::string(caption_text(m.caption)) + ": " + m.text);
        };
        return run_batch(req);
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::set<std::string> bmps(const std::string& dir) const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".bmp") names.insert(e.path().filename().string());
        return names;
    }

    std::string root_;
    ui::dialog_fields fields_;
    ui::scan_table table_;
    std::vector<std::string> messages_;
};

synth::params small_params(std::uint64_t seed) {
    synth::params p = synth::default_params(16);
    p.width = 72;
    p.height = 56;
    p.frames = 70;
    p.seed = seed;
    p.stars = 3;
    p.hot_pixels = 3;
    p.flashes = {{25, 20, 12, 900.0, 1}, {45, 35, 55, 900.0, 1}};
    p.burst_frame = 64;
    p.burst_points = 40;
    return p;
}

TEST_F(EndToEnd, MasksOffMatchesTheOracleByteForByte) {
    const synth::params p = small_params(11);
    add("e2e.ser", p);
    table_.set_cell(0, ui::col_pack, "30"); // two packets and a remainder of 10 frames
    table_.set_cell(0, ui::col_max, "40");
    const batch_report rep = run();
    ASSERT_EQ(rep.files.size(), 1u);
    ASSERT_EQ(rep.files[0].outcome, file_outcome::scanned) << rep.files[0].problem_text();

    oracle_settings s;
    s.stop = 69;
    s.pack = 30;
    s.max_frames = 40;
    const oracle_result want = oracle(decode(synth::make_ser_bytes(p)), s);
    const std::string dir =
        root_ + "/Results_e2e_s" + std::to_string(want.final_threshold) + "_" + std::to_string(want.final_frame);
    EXPECT_EQ(rep.files[0].result_dir, dir);
    // Every pass ends at the burst in frame 64, among the remainder frames.
    EXPECT_EQ(want.final_frame, 64);
    // A one-frame flash in a packet of 30 stands at most 29 / sqrt(30) = 5.3 deviations above its
    // own mean: both flashes are found at 51, 48 and 45.
    EXPECT_EQ(want.snapshots.size(), 6u) << want.passes_text;
    const std::string text = read(dir + "/e2e_summary.txt");
    const std::size_t passes_at = text.find("\r\n------------Detection");
    ASSERT_NE(passes_at, std::string::npos);
    EXPECT_EQ(text.substr(passes_at), crlf(want.passes_text));
    EXPECT_EQ(bmps(dir), want.snapshots);
    // The generated flashes are among the detections (frame and position).
    EXPECT_NE(want.passes_text.find(columns(12, 25, 20)), std::string::npos);
    EXPECT_NE(want.passes_text.find(columns(55, 45, 35)), std::string::npos);
}

TEST_F(EndToEnd, FlashesFoundWithMasksOnAndNothingAtHotPixels) {
    synth::params p = small_params(5);
    p.frames = 120;
    p.burst_frame = 118;
    p.hot_level = 3900.0; // above the RED level: masked
    const synth::ground_truth truth = add("masked.ser", p);
    table_.set_cell(0, ui::col_pack, "50");
    table_.set_cell(0, ui::col_max, "60");
    for (int id : {ui::id::MASK_RED_ON, ui::id::MASK_BLUE_ON, ui::id::MASK_STARS_ON}) fields_.set_checked(id, true);
    fields_.set_int(ui::id::RED_MASK_HALF, 2);
    fields_.set_int(ui::id::STAR_HALF_WIDTH, 3);
    fields_.set_int(ui::id::STAR_MASK_HALF, 3);
    const batch_report rep = run();
    ASSERT_EQ(rep.files[0].outcome, file_outcome::scanned) << rep.files[0].problem_text();
    // The scan ends at the burst frame in every pass.
    EXPECT_EQ(rep.files[0].last_frame, 118);
    EXPECT_EQ(rep.files[0].final_threshold, 45);
    const std::string text = read(rep.files[0].result_dir + "/masked_summary.txt");
    EXPECT_NE(text.find("Mask around RED pixels ON\x81\x46  Mask size 2\r\n"), std::string::npos);

    // Parse every detection line: frame, x, y.
    std::vector<std::array<int, 3>> found;
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) {
        int no, frame, x, y, count, avg, sd;
        if (std::sscanf(text.c_str() + at + 2, "%d %d %d %d %d %d %d", &no, &frame, &x, &y, &count, &avg, &sd) == 7)
            found.push_back({frame, x, y});
    }
    for (const auto& f : truth.flashes) {
        const bool hit = std::any_of(found.begin(), found.end(), [&](const auto& d) {
            return d[0] == f.frame && std::abs(d[1] - f.x) <= 1 && std::abs(d[2] - f.y) <= 1;
        });
        EXPECT_TRUE(hit) << "flash at " << f.x << "," << f.y << " frame " << f.frame;
    }
    for (const auto& hp : truth.hot_pixels)
        for (const auto& d : found) EXPECT_FALSE(std::abs(d[1] - hp.x) <= 2 && std::abs(d[2] - hp.y) <= 2);
    for (const auto& d : found) EXPECT_NE(d[0], 118); // the burst frame is never saved
}

TEST_F(EndToEnd, SameInputGivesIdenticalFolders) {
    const synth::params p = small_params(3);
    add("a.ser", p);
    table_.set_cell(0, ui::col_pack, "30");
    table_.set_cell(0, ui::col_max, "40");
    const std::string first = run().files[0].result_dir;
    const std::string moved = root_ + "/first";
    fs::rename(first, moved);
    const std::string second = run().files[0].result_dir;
    ASSERT_EQ(first, second);
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(moved)) names.insert(e.path().filename().string());
    ASSERT_GT(names.size(), 1u);
    for (const auto& n : names) EXPECT_EQ(read(moved + "/" + n), read(second + "/" + n)) << n;
}

} // namespace
} // namespace serflash::detect
