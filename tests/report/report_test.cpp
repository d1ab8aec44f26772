// The candidates' table, document and page of scanned files, written by the result sinks beside
// the summary and the snapshots.
#include "../detect/memory_fs.h"
#include "detect/batch.h"
#include "detect/fast_scan.h"
#include "detect/passes.h"
#include "report/csv.h"
#include "report/html_report.h"
#include "report/observation_sinks.h"
#include "report/tables.h"
#include "synth/synth.h"
#include "ui/review_model.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace serflash::report {
namespace {

using detect::testing::memory_fs;

synth::params sample(std::int32_t depth = 16, std::int32_t color = 0) {
    synth::params p = synth::default_params(depth);
    p.width = 96;
    p.height = 80;
    p.frames = 60;
    p.seed = 7;
    p.stars = 2;
    p.hot_pixels = 0;
    p.bright_region = false;
    p.dark_region = false;
    p.color_id = color;
    const double a = depth == 8 ? 120.0 : 600.0;
    p.flashes = {{30, 25, 20, a, 2}, {60, 50, 41, a * 0.8, 1}};
    p.write_times = true;
    p.fps = 25.0;
    return p;
}

struct scanned {
    memory_fs fs;
    detect::batch_report report;
    std::vector<observation> observed;
    std::vector<std::string> problems;
    std::string dir() const { return report.files.at(0).result_dir; }
    std::string file(const std::string& name) const { return fs.text(dir() + "/" + name); }
};

std::unique_ptr<scanned> scan(const std::vector<std::uint8_t>& ser, bool reference, bool sinks = true,
                              double fps = 0.0) {
    auto s = std::make_unique<scanned>();
    s->fs.files["m1.ser"] = ser;
    ser::ser_reader reader(platform::make_memory_input(ser));
    reader.read_ser_header();
    detect::batch_request request;
    detect::scan_job job;
    job.path = "m1.ser";
    job.settings = detect::default_settings(reader.frames_present(), reader.depth(), 0);
    job.settings.max_det_frames = 50; // every pass runs to the end
    job.fps = fps;
    request.jobs = {job};
    request.fs = &s->fs;
    request.scanner = reference ? detect::file_scanner(detect::run_scan) : detect::make_fast_scanner();
    if (sinks) {
        observation_options o;
        o.fs = &s->fs;
        o.observed = [p = s.get()](const observation& obs, const std::string& problem) {
            p->observed.push_back(obs);
            if (!problem.empty()) p->problems.push_back(problem);
        };
        request.sinks = observation_sinks(o);
    }
    s->report = detect::run_batch(request);
    return s;
}

class ReportFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fast_ = scan(synth::make_ser_bytes(sample()), false).release();
        reference_ = scan(synth::make_ser_bytes(sample()), true).release();
    }
    static void TearDownTestSuite() {
        delete fast_;
        delete reference_;
    }
    static scanned* fast_;
    static scanned* reference_;
};
scanned* ReportFiles::fast_ = nullptr;
scanned* ReportFiles::reference_ = nullptr;

TEST_F(ReportFiles, WrittenInTheRenamedFolderAlikeByBothScannersLeavingTheSummaryAlone) {
    const scanned& s = *fast_;
    ASSERT_EQ(s.report.files.size(), 1u);
    ASSERT_EQ(s.report.files[0].outcome, detect::file_outcome::scanned);
    EXPECT_NE(s.dir(), "./Results_m1"); // renamed with the threshold and frame
    EXPECT_TRUE(s.problems.empty());
    for (const char* name : {"m1_candidates.csv", "m1_candidates.json", "m1_report.html"}) {
        EXPECT_FALSE(s.file(name).empty()) << name;
        EXPECT_EQ(s.file(name), reference_->file(name)) << name;
    }
    // The summary and snapshots are those of a scan without the sinks, and nothing else is new.
    const auto plain = scan(synth::make_ser_bytes(sample()), false, false);
    std::vector<std::string> expected = plain->fs.names_in(plain->dir());
    for (const char* name : {"m1_candidates.csv", "m1_candidates.json", "m1_report.html"}) expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(s.fs.names_in(s.dir()), expected);
    for (const std::string& name : plain->fs.names_in(plain->dir())) EXPECT_EQ(s.file(name), plain->file(name)) << name;
}

TEST_F(ReportFiles, CandidatesMeasuredOnTheFile) {
    ASSERT_EQ(fast_->observed.size(), 1u);
    const observation& o = fast_->observed[0];
    EXPECT_EQ(o.times.source, ser::time_source::trailer);
    ASSERT_EQ(o.candidates.size(), 2u);
    const measured_candidate& two = o.candidates[0];
    EXPECT_EQ(two.c.first_frame, 20);
    EXPECT_EQ(two.c.duration_frames(), 2);
    EXPECT_EQ(two.c.peak.det.x, 30);
    EXPECT_EQ(two.c.peak.det.y, 25);
    // The cut-outs hold the very samples the scan tested: the peak pixel is the detection's.
    ASSERT_EQ(two.cutouts.size(), 6u);
    const auto& peak_cut = two.cutouts[static_cast<std::size_t>(2)];
    EXPECT_EQ(peak_cut.frame, two.c.peak.frame);
    EXPECT_EQ(peak_cut.samples[static_cast<std::size_t>(cutout_half * (2 * cutout_half + 1) + cutout_half)],
              two.c.peak.det.sample);
    // A spot spread over its neighbours in two frames: the box holds more than the peak pixel.
    EXPECT_GT(two.integrated_excess, 1.5 * two.c.peak.excess());
    // The light curve peaks at the peak frame and reaches 15 frames either side.
    ASSERT_EQ(two.curve.excess.size(), 31u);
    const auto top = std::max_element(two.curve.excess.begin(), two.curve.excess.end()) - two.curve.excess.begin();
    EXPECT_EQ(two.curve.first_frame + static_cast<std::int32_t>(top), two.c.peak.frame);
    EXPECT_GT(two.curve.sigma, 0.0);
    EXPECT_LT(two.curve.sigma, two.c.peak.excess());
    // Near the end of the file the curve and the cut-outs stop at the last frame.
    const measured_candidate& late = o.candidates[1];
    EXPECT_EQ(late.c.peak.frame, 41);
    EXPECT_EQ(late.curve.excess.size(), 15u + 1u + 15u);
}

TEST_F(ReportFiles, CsvHasTheColumnsInOrderAndOneRowPerCandidate) {
    const std::string csv = fast_->file("m1_candidates.csv");
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
              "candidate,file,peak_frame,first_frame,last_frame,x,y,utc_peak,utc_start,time_source,duration_frames,"
              "peak_sigma,peak_excess,integrated_excess,highest_threshold,thresholds,detections,class,noise_expected,"
              "end_x,end_y,lat,lon,lat_lon_err,peak_mag,peak_mag_err,energy_j");
    const auto rows = parse_csv(csv);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3u);
    const auto& r = (*rows)[1];
    ASSERT_EQ(r.size(), candidate_table().size());
    EXPECT_EQ(r[0], "1");
    EXPECT_EQ(r[1], "m1.ser");
    EXPECT_EQ(r[3], "20");
    EXPECT_EQ(r[4], "21");
    const synth::params p = sample();
    EXPECT_EQ(r[8], ser::format_utc(p.datetime_utc + 20 * 400'000)); // frame 20 at 25 per second
    EXPECT_EQ(r[8].size(), 24u);
    EXPECT_EQ(r[9], "trailer");
    EXPECT_EQ(r[10], "2");
    EXPECT_EQ(r[15].substr(0, 2), r[14]); // the highest threshold first
    EXPECT_EQ(r[15].find(','), std::string::npos);
}

TEST(Csv, QuotesFieldsAsTablesDoAndReadsThemBack) {
    EXPECT_EQ(csv_field("m1.ser"), "m1.ser");
    EXPECT_EQ(csv_field("a,b"), "\"a,b\"");
    EXPECT_EQ(csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csv_field("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(csv_line({"1", "", "x,y"}), "1,,\"x,y\"\r\n");
    const std::vector<std::string> fields = {"night, 1.ser", "\"quoted\"", "", "line\r\nbreak", "60 57 54"};
    const auto back = parse_csv(csv_line(fields) + csv_line({"2"}));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[0], fields);
    std::string error;
    EXPECT_FALSE(parse_csv("a,\"open\r\n", &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_EQ(fixed_decimals(-0.001, 2), "0.00");
    EXPECT_EQ(fixed_decimals(std::nan(""), 2), "");
}

TEST_F(ReportFiles, JsonReadsBackWithTheCsvValues) {
    const auto doc = nlohmann::json::parse(fast_->file("m1_candidates.json"));
    EXPECT_EQ(doc["format"], "serflash-candidates");
    EXPECT_EQ(doc["version"], 2);
    EXPECT_TRUE(doc["noise"].contains("method"));
    EXPECT_EQ(doc["file"]["name"], "m1.ser");
    EXPECT_EQ(doc["file"]["path"], "../m1.ser"); // from inside the results folder
    EXPECT_EQ(doc["file"]["size"], synth::make_ser_bytes(sample()).size());
    EXPECT_EQ(doc["file"]["frames_present"], 60);
    EXPECT_EQ(doc["file"]["header"]["Observer"], "Synthetic observer");
    EXPECT_EQ(doc["times"]["source"], "trailer");
    EXPECT_DOUBLE_EQ(doc["times"]["frame_rate"].get<double>(), 25.0);
    EXPECT_EQ(doc["times"]["dropped_frames"], 0);
    EXPECT_EQ(doc["settings"]["threshold"], 60);
    ASSERT_FALSE(doc["passes"].empty());
    EXPECT_EQ(doc["passes"][0]["threshold"], 60);
    EXPECT_EQ(doc["passes"][0]["end"], "end of range");
    EXPECT_EQ(doc["passes"][0]["last_frame_examined"], 59);
    EXPECT_TRUE(doc["scattered_frames"].is_array());

    const auto rows = *parse_csv(fast_->file("m1_candidates.csv"));
    const auto& cands = doc["candidates"];
    ASSERT_EQ(cands.size(), rows.size() - 1);
    for (std::size_t i = 0; i < cands.size(); ++i) {
        const auto& c = cands[i];
        const auto& r = rows[i + 1];
        EXPECT_EQ(std::to_string(c["candidate"].get<int>()), r[0]);
        EXPECT_EQ(c["utc_peak"], r[7]);
        EXPECT_EQ(fixed_decimals(c["peak_sigma"].get<double>(), sigma_decimals), r[11]);
        EXPECT_EQ(fixed_decimals(c["integrated_excess"].get<double>(), counts_decimals), r[13]);
        EXPECT_EQ(thresholds_text(c["thresholds"].get<std::vector<std::int32_t>>()), r[15]);
        EXPECT_EQ(c["light_curve"]["excess"].size(), c["light_curve"]["utc"].size());
    }
}

TEST_F(ReportFiles, TheDesktopReviewReadsTheDocument) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "serflash_report_review";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "m1_candidates.json") << fast_->file("m1_candidates.json");
    const ui::candidates_file read = ui::read_candidates_file(dir / "m1_candidates.json");
    EXPECT_EQ(read.error, "");
    ASSERT_EQ(read.candidates.size(), 2u);
    EXPECT_EQ(read.candidates[0].duration_frames, 2);
    EXPECT_EQ(read.candidates[0].time_source, "trailer");
    EXPECT_EQ(read.candidates[0].curve.excess.size(), 31u);
    EXPECT_EQ(read.candidates[0].ser_path, (dir.parent_path() / "m1.ser").string());
    // Its export is the candidates table, field for field, with the marks in one more column.
    ui::review_model review;
    review.load({dir});
    std::string expected;
    const auto rows = parse_csv(fast_->file("m1_candidates.csv"));
    ASSERT_TRUE(rows);
    for (auto row : *rows) {
        row.emplace_back(expected.empty() ? "mark" : "");
        expected += csv_line(row);
    }
    EXPECT_EQ(review.csv(), expected);
    std::filesystem::remove_all(dir);
}

// The page through libxml2's HTML parser: it must parse with no error but the SVG elements it
// does not know (an HTML 4 parser), and each candidate's section holds one strip and one SVG.
struct parsed_page {
    xmlDocPtr doc = nullptr;
    std::vector<std::string> errors;
    ~parsed_page() { xmlFreeDoc(doc); }
};

void collect_error(void* ctx, xmlErrorPtr e) {
    if (e->code == XML_HTML_UNKNOWN_TAG) return; // svg, polyline, ...
    static_cast<parsed_page*>(ctx)->errors.push_back(e->message != nullptr ? e->message : "?");
}

std::string attribute(xmlNodePtr n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string s = v != nullptr ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

void find_all(xmlNodePtr n, const std::string& tag, std::vector<xmlNodePtr>& out) {
    for (; n != nullptr; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && tag == reinterpret_cast<const char*>(n->name)) out.push_back(n);
        find_all(n->children, tag, out);
    }
}

std::vector<std::uint8_t> unbase64(const std::string& s) {
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (const char ch : s) {
        const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const auto v = digits.find(ch);
        if (v == std::string::npos) break;
        acc = acc << 6 | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits & 0xFFU));
        }
    }
    return out;
}

TEST_F(ReportFiles, PageParsesWithOneStripAndOneLightCurvePerCandidate) {
    const std::string html = fast_->file("m1_report.html");
    parsed_page page;
    htmlParserCtxtPtr ctx = htmlNewParserCtxt();
    xmlSetStructuredErrorFunc(&page, collect_error);
    page.doc = htmlCtxtReadMemory(ctx, html.data(), static_cast<int>(html.size()), "m1_report.html", "UTF-8",
                                  HTML_PARSE_NONET);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    htmlFreeParserCtxt(ctx);
    ASSERT_NE(page.doc, nullptr);
    EXPECT_TRUE(page.errors.empty()) << page.errors.front();

    std::vector<xmlNodePtr> sections;
    find_all(xmlDocGetRootElement(page.doc), "section", sections);
    ASSERT_EQ(sections.size(), 2u);
    for (xmlNodePtr section : sections) {
        std::vector<xmlNodePtr> imgs, svgs;
        find_all(section->children, "img", imgs);
        find_all(section->children, "svg", svgs);
        ASSERT_EQ(imgs.size(), 1u);
        EXPECT_EQ(svgs.size(), 1u);
        const std::string src = attribute(imgs[0], "src");
        const std::string prefix = "data:image/png;base64,";
        ASSERT_EQ(src.rfind(prefix, 0), 0u);
        // Six cut-outs of 41 x 41 pixels enlarged 4 times, side by side.
        const auto png = unbase64(src.substr(prefix.size()));
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0);
        EXPECT_EQ(image.height, 41u * cutout_zoom);
        EXPECT_EQ(image.width, 6u * 41u * cutout_zoom + 5u * 4u);
        png_image_free(&image);
    }
    // Self-contained: nothing is fetched.
    for (const char* tag : {"script", "link", "iframe"}) {
        std::vector<xmlNodePtr> none;
        find_all(xmlDocGetRootElement(page.doc), tag, none);
        EXPECT_TRUE(none.empty()) << tag;
    }
    EXPECT_EQ(html.find("src=\"http"), std::string::npos);
    // The times are on the page.
    EXPECT_NE(html.find(ser::format_utc(sample().datetime_utc)), std::string::npos);
}

TEST(ReportMeasure, CutOutsHoldTheScannedSamplesOfEveryLayout) {
    for (const auto& [depth, color] : {std::pair{8, 0}, std::pair{16, 100}, std::pair{8, 101}}) {
        const auto s = scan(synth::make_ser_bytes(sample(depth, color)), false);
        ASSERT_EQ(s->observed.size(), 1u) << depth << " " << color;
        ASSERT_FALSE(s->observed[0].candidates.empty()) << depth << " " << color;
        for (const measured_candidate& m : s->observed[0].candidates) {
            const auto it = std::find_if(m.cutouts.begin(), m.cutouts.end(),
                                         [&](const cutout& c) { return c.frame == m.c.peak.frame; });
            ASSERT_NE(it, m.cutouts.end());
            EXPECT_EQ(it->samples[static_cast<std::size_t>(cutout_half * (2 * cutout_half + 1) + cutout_half)],
                      m.c.peak.det.sample)
                << depth << " " << color;
        }
    }
}

// The blocks are read as runs of rows; every sample of every cut-out is the one the whole frame
// holds there (-1 outside it): near an edge, and where two candidates' rows overlap in a frame.
TEST(ReportMeasure, CutOutsAreTheFramesOwnSamplesNearEdgesAndWhereRowsOverlap) {
    synth::params p = sample();
    p.flashes = {{30, 12, 20, 600.0, 2}, {70, 30, 20, 600.0, 1}, {50, 66, 40, 500.0, 1}};
    const std::vector<std::uint8_t> bytes = synth::make_ser_bytes(p);
    const auto s = scan(bytes, false);
    ASSERT_EQ(s->observed.size(), 1u);
    ASSERT_GE(s->observed[0].candidates.size(), 3u);
    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    const std::int32_t w = reader.width(), h = reader.height();
    std::vector<std::uint16_t> frame(static_cast<std::size_t>(w * h));
    const std::int32_t side = 2 * cutout_half + 1;
    std::size_t compared = 0;
    for (const measured_candidate& m : s->observed[0].candidates) {
        ASSERT_FALSE(m.cutouts.empty());
        for (const cutout& cut : m.cutouts) {
            reader.seek_frame(cut.frame);
            reader.read_frame(frame);
            ASSERT_EQ(cut.samples.size(), static_cast<std::size_t>(side * side));
            for (std::int32_t r = 0; r < side; ++r)
                for (std::int32_t c = 0; c < side; ++c) {
                    const std::int32_t y = cut.top + r, x = cut.left + c;
                    const std::int32_t expected =
                        y < 0 || y >= h || x < 0 || x >= w ? -1 : frame[static_cast<std::size_t>(y * w + x)];
                    ASSERT_EQ(cut.samples[static_cast<std::size_t>(r * side + c)], expected)
                        << "frame " << cut.frame << " at " << x << "," << y;
                    ++compared;
                }
        }
    }
    EXPECT_GT(compared, 0u);
}

TEST(ReportTimes, WithoutStampsTheFrameRateGivesEstimatesOrNothing) {
    synth::params p = sample();
    p.write_times = false;
    const auto none = scan(synth::make_ser_bytes(p), false);
    const auto rows = *parse_csv(none->file("m1_candidates.csv"));
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1][7], "");
    EXPECT_EQ(rows[1][9], "none");
    EXPECT_TRUE(nlohmann::json::parse(none->file("m1_candidates.json"))["candidates"][0]["utc_peak"].is_null());

    const auto estimated = scan(synth::make_ser_bytes(p), false, true, 50.0);
    const auto est = *parse_csv(estimated->file("m1_candidates.csv"));
    EXPECT_EQ(est[1][9], "header+fps");
    EXPECT_EQ(est[1][8], ser::format_utc(p.datetime_utc + 20 * 200'000));
}

TEST(ReportSinks, AFolderThatCannotTakeTheFilesIsTold) {
    auto s = std::make_unique<scanned>();
    s->fs.files["m1.ser"] = synth::make_ser_bytes(sample());
    s->fs.refuse_create = [](const std::string& path) { return path.find("_candidates.json") != std::string::npos; };
    detect::batch_request request;
    detect::scan_job job;
    job.path = "m1.ser";
    job.settings = detect::default_settings(60, 16, 0);
    job.settings.max_det_frames = 50;
    request.jobs = {job};
    request.fs = &s->fs;
    observation_options o;
    o.fs = &s->fs;
    o.observed = [&](const observation&, const std::string& problem) { s->problems.push_back(problem); };
    request.sinks = observation_sinks(o);
    s->report = detect::run_batch(request);
    ASSERT_EQ(s->problems.size(), 1u);
    EXPECT_NE(s->problems[0].find("m1_candidates.json could not be written"), std::string::npos) << s->problems[0];
    EXPECT_FALSE(s->file("m1_candidates.csv").empty());
    EXPECT_FALSE(s->file("m1_report.html").empty());
    // A file that could not be written fails the file, as a summary or snapshot would.
    EXPECT_EQ(s->report.files[0].outcome, detect::file_outcome::failed);
    EXPECT_NE(s->report.files[0].problem_text().find("m1_candidates.json"), std::string::npos);
}

} // namespace
} // namespace serflash::report
