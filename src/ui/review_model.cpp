#include "ui/review_model.h"

#include "platform/file_io.h"
#include "report/csv.h"
#include "report/tables.h"
#include "report/vetting.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>

namespace serflash::ui {
namespace {

// Candidates files are read keeping their order of keys; the marks file is written sorted.
using json = nlohmann::ordered_json;
using marks_json = nlohmann::json;

constexpr const char* candidates_suffix = "_candidates.json";
constexpr const char* marks_format = "serflash-marks";

std::optional<std::string> optional_text(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// A field's value, or the fallback when it is missing, null or of another type: files from
// other versions may leave fields out or add new ones.
template <typename T>
T value_or(const json& j, const char* key, T fallback) {
    const auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        return fallback;
    }
}

// Numbers of an array; null (a value that could not be measured) and other entries read as NaN.
std::vector<double> numbers_or_nan(const json& j, const char* key) {
    std::vector<double> out;
    const auto it = j.find(key);
    if (it == j.end() || !it->is_array()) return out;
    for (const json& v : *it) out.push_back(v.is_number() ? v.get<double>() : std::nan(""));
    return out;
}

candidate parse_candidate(const json& j) {
    candidate c;
    c.number = value_or<std::int32_t>(j, "candidate", 0);
    c.file = value_or<std::string>(j, "file", "");
    c.peak_frame = value_or<std::int32_t>(j, "peak_frame", 0);
    c.first_frame = value_or<std::int32_t>(j, "first_frame", c.peak_frame);
    c.last_frame = value_or<std::int32_t>(j, "last_frame", c.peak_frame);
    c.x = value_or<std::int32_t>(j, "x", 0);
    c.y = value_or<std::int32_t>(j, "y", 0);
    c.utc_peak = optional_text(j, "utc_peak");
    c.utc_start = optional_text(j, "utc_start");
    c.time_source = value_or<std::string>(j, "time_source", "");
    c.duration_frames = value_or<std::int32_t>(j, "duration_frames", 0);
    c.peak_sigma = value_or<double>(j, "peak_sigma", 0.0);
    c.peak_excess = value_or<double>(j, "peak_excess", 0.0);
    c.integrated_excess = value_or<double>(j, "integrated_excess", 0.0);
    c.highest_threshold = value_or<std::int32_t>(j, "highest_threshold", 0);
    c.thresholds = value_or<std::vector<std::int32_t>>(j, "thresholds", {});
    c.detections = value_or<std::int32_t>(j, "detections", 0);
    c.cls = value_or<std::string>(j, "class", "");
    c.noise_expected = value_or<double>(j, "noise_expected", std::nan(""));
    c.lat = value_or<double>(j, "lat", std::nan(""));
    c.lon = value_or<double>(j, "lon", std::nan(""));
    c.lat_lon_err = value_or<double>(j, "lat_lon_err", std::nan(""));
    c.peak_mag = value_or<double>(j, "peak_mag", std::nan(""));
    c.peak_mag_err = value_or<double>(j, "peak_mag_err", std::nan(""));
    c.energy_j = value_or<double>(j, "energy_j", std::nan(""));
    c.position_note = value_or<std::string>(j, "position_note", "");
    if (const auto lc = j.find("light_curve"); lc != j.end() && lc->is_object()) {
        c.curve.first_frame = value_or<std::int32_t>(*lc, "first_frame", 0);
        c.curve.excess = numbers_or_nan(*lc, "excess");
        c.curve.sigma = value_or<double>(*lc, "sigma", 0.0);
        if (const auto utc = lc->find("utc"); utc != lc->end() && utc->is_array())
            for (const json& u : *utc)
                c.curve.utc.push_back(u.is_string() ? std::optional(u.get<std::string>()) : std::nullopt);
    }
    return c;
}

// The document's "moon" block, when it holds a disk, an orientation and an ephemeris.
std::shared_ptr<const file_moon> parse_moon(const json& doc) {
    const auto m = doc.find("moon");
    if (m == doc.end() || !m->is_object()) return nullptr;
    const auto disk = m->find("disk");
    const auto eph = m->find("ephemeris");
    const auto turn = m->find("orientation_deg");
    if (disk == m->end() || !disk->is_object() || eph == m->end() || !eph->is_object() || turn == m->end() ||
        !turn->is_number())
        return nullptr;
    auto out = std::make_shared<file_moon>();
    const double nan = std::nan("");
    out->view.disk = {value_or<double>(*disk, "x", nan),      value_or<double>(*disk, "y", nan),
                      value_or<double>(*disk, "radius", nan), value_or<double>(*disk, "x_err", 0.0),
                      value_or<double>(*disk, "y_err", 0.0),  value_or<double>(*disk, "radius_err", 0.0)};
    out->view.orientation_deg = turn->get<double>();
    out->view.mirror = value_or<bool>(*m, "mirror", false);
    astro::moon_ephemeris& e = out->ephemeris;
    const std::pair<const char*, double*> fields[] = {{"ra_deg", &e.ra_deg},
                                                      {"dec_deg", &e.dec_deg},
                                                      {"distance_km", &e.distance_km},
                                                      {"semidiameter_arcsec", &e.semidiameter_arcsec},
                                                      {"libration_lon_deg", &e.libration_lon_deg},
                                                      {"libration_lat_deg", &e.libration_lat_deg},
                                                      {"axis_pa_deg", &e.axis_pa_deg},
                                                      {"bright_limb_pa_deg", &e.bright_limb_pa_deg},
                                                      {"illuminated_fraction", &e.illuminated_fraction},
                                                      {"sun_colongitude_deg", &e.sun_colongitude_deg},
                                                      {"sun_selenographic_lat_deg", &e.sun_selenographic_lat_deg}};
    for (const auto& [key, value] : fields) *value = value_or<double>(*eph, key, nan);
    e.topocentric = value_or<bool>(*eph, "topocentric", false);
    const astro::disk_circle& d = out->view.disk;
    if (!std::isfinite(d.x) || !std::isfinite(d.y) || !(d.radius > 0) || !std::isfinite(e.libration_lon_deg) ||
        !std::isfinite(e.libration_lat_deg) || !std::isfinite(e.axis_pa_deg))
        return nullptr;
    return out;
}

// The verdicts kept for one candidates file: candidate number -> verdict.
std::map<std::int32_t, verdict> read_marks(const std::filesystem::path& path) {
    std::map<std::int32_t, verdict> marks;
    std::ifstream in(path);
    if (!in) return marks;
    const marks_json j = marks_json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("marks") || !j["marks"].is_array()) return marks;
    for (const marks_json& m : j["marks"]) {
        if (!m.is_object() || !m.contains("candidate") || !m["candidate"].is_number_integer()) continue;
        const auto v = verdict_from_text(value_or<std::string>(m, "mark", ""));
        if (v && *v != verdict::none) marks[m["candidate"].get<std::int32_t>()] = *v;
    }
    return marks;
}

// Through the file layer: never through a link, and a failed write leaves the old file whole.
bool write_text_file(const std::filesystem::path& target, const std::string& text, std::string* error) {
    const platform::status written = platform::write_whole_file(platform::native_file_system(), target.string(), text);
    if (!written && error != nullptr) *error = "cannot write " + target.string() + " (" + written.reason() + ")";
    return static_cast<bool>(written);
}

} // namespace

const char* verdict_text(verdict v) {
    switch (v) {
        case verdict::real:
            return "real";
        case verdict::false_alarm:
            return "false";
        case verdict::unsure:
            return "unsure";
        case verdict::none:
            break;
    }
    return "";
}

std::optional<verdict> verdict_from_text(const std::string& text) {
    for (verdict v : {verdict::none, verdict::real, verdict::false_alarm, verdict::unsure})
        if (text == verdict_text(v)) return v;
    return std::nullopt;
}

candidates_file read_candidates_file(const std::filesystem::path& json_path) {
    candidates_file out;
    std::ifstream in(json_path, std::ios::binary);
    if (!in) {
        out.error = json_path.string() + ": cannot be opened";
        return out;
    }
    const json j = json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        out.error = json_path.string() + ": not valid JSON";
        return out;
    }
    if (j.value("format", std::string()) != "serflash-candidates" || !j.contains("candidates") ||
        !j["candidates"].is_array()) {
        out.error = json_path.string() + ": not a serflash candidates file";
        return out;
    }
    std::string ser_path, ser_name;
    if (const auto f = j.find("file"); f != j.end() && f->is_object()) {
        ser_path = value_or<std::string>(*f, "path", "");
        ser_name = value_or<std::string>(*f, "name", "");
    }
    // A relative path is seen from the results folder that holds the document.
    if (!ser_path.empty() && std::filesystem::path(ser_path).is_relative())
        ser_path = (json_path.parent_path() / ser_path).lexically_normal().string();
    const std::shared_ptr<const file_moon> moon = parse_moon(j);
    try {
        for (const json& c : j["candidates"]) {
            if (!c.is_object()) continue;
            candidate cand = parse_candidate(c);
            if (cand.file.empty()) cand.file = ser_name;
            json record = c;
            record["file"] = cand.file;
            cand.texts = report::candidate_texts(record);
            cand.ser_path = ser_path;
            cand.source = json_path;
            cand.moon = moon;
            out.candidates.push_back(std::move(cand));
        }
    } catch (const json::exception& e) {
        out.candidates.clear();
        out.error = json_path.string() + ": " + e.what();
    }
    return out;
}

std::filesystem::path marks_path_for(const std::filesystem::path& candidates_json) {
    std::string name = candidates_json.filename().string();
    const std::string suffix = candidates_suffix;
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    return candidates_json.parent_path() / (name + "_marks.json");
}

std::vector<std::filesystem::path> candidate_files_in(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    const std::string suffix = candidates_suffix;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(ec) && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void review_model::load(const std::vector<std::filesystem::path>& folders) {
    candidates_.clear();
    errors_.clear();
    folders_ = folders;
    for (const auto& folder : folders) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec)) {
            errors_.push_back(folder.string() + ": there is no such folder");
            continue;
        }
        const auto files = candidate_files_in(folder);
        if (files.empty())
            errors_.push_back(folder.string() + ": no candidates file (*_candidates.json) in this folder");
        for (const auto& f : files) {
            candidates_file read = read_candidates_file(f);
            if (!read.error.empty()) {
                errors_.push_back(read.error);
                continue;
            }
            const auto marks = read_marks(marks_path_for(f));
            for (candidate& c : read.candidates) {
                if (const auto m = marks.find(c.number); m != marks.end()) c.mark = m->second;
                candidates_.push_back(std::move(c));
            }
        }
    }
    const std::vector<std::size_t> ranked = order();
    for (std::size_t r = 0; r < ranked.size(); ++r) candidates_[ranked[r]].rank = r;
}

std::vector<std::string> review_model::classes() const {
    std::vector<std::string> out;
    for (const std::size_t k : order())
        if (std::find(out.begin(), out.end(), candidates_[k].cls) == out.end()) out.push_back(candidates_[k].cls);
    return out;
}

bool review_model::set_mark(std::size_t index, verdict v, std::string* error) {
    if (index >= candidates_.size()) return false;
    candidates_[index].mark = v;
    const std::filesystem::path source = candidates_[index].source;
    marks_json marks = marks_json::array();
    for (const candidate& c : candidates_) {
        if (c.source != source || c.mark == verdict::none) continue;
        marks.push_back({{"candidate", c.number}, {"file", c.file}, {"mark", verdict_text(c.mark)}});
    }
    const marks_json doc = {
        {"format", marks_format}, {"version", 1}, {"candidates_file", source.filename().string()}, {"marks", marks}};
    return write_text_file(marks_path_for(source), doc.dump(2) + "\n", error);
}

std::vector<std::size_t> review_model::order(const std::string& cls) const {
    // Classes in the order the report page groups them; unknown ones after, none last.
    const auto rank = [](const std::string& name) {
        const auto c = report::class_named(name);
        return c ? static_cast<int>(*c) : name.empty() ? 1000 : 999;
    };
    std::vector<std::size_t> out;
    for (std::size_t k = 0; k < candidates_.size(); ++k)
        if (cls.empty() || candidates_[k].cls == cls) out.push_back(k);
    std::stable_sort(out.begin(), out.end(), [&](std::size_t a, std::size_t b) {
        const candidate& p = candidates_[a];
        const candidate& q = candidates_[b];
        if (rank(p.cls) != rank(q.cls)) return rank(p.cls) < rank(q.cls);
        // Not known counts as likely from noise.
        const auto noise = [](double v) { return std::isnan(v) ? std::numeric_limits<double>::infinity() : v; };
        return p.cls == "flash" && noise(p.noise_expected) < noise(q.noise_expected);
    });
    return out;
}

std::string review_model::csv() const {
    std::vector<std::string> header = report::candidate_column_names();
    header.emplace_back("mark");
    std::string out = report::csv_line(header);
    for (const candidate& c : candidates_) {
        std::vector<std::string> fields = c.texts;
        fields.emplace_back(verdict_text(c.mark));
        out += report::csv_line(fields);
    }
    return out;
}

bool review_model::export_csv(const std::filesystem::path& target, std::string* error) const {
    return write_text_file(target, csv(), error);
}

} // namespace serflash::ui
