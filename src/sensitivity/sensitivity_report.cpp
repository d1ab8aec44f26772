#include "sensitivity/sensitivity_report.h"

#include "detect/format.h"
#include "report/csv.h"
#include "report/html_report.h"
#include "report/observation.h"
#include "report/observation_sinks.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace serflash::sensitivity {
namespace {

using json = nlohmann::ordered_json;

// Decimals of amplitudes and rates in the tables and lines.
constexpr int amplitude_decimals = 1;
constexpr int fraction_decimals = 3;

std::string decimals(double v, int n) {
    const std::string s = report::fixed_decimals(v, n);
    return s.empty() ? "-" : s;
}

json number_or_null(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

const char* unit_name(amplitude_unit u) { return u == amplitude_unit::sigma ? "sigma" : "counts"; }

// The file-name part of the SER file as its results folder names its files.
std::string base_in_folder(const std::string& path) {
    const std::string prefix = detect::results_folder_name("");
    return detect::results_folder_name(detect::base_name_of(path)).substr(prefix.size());
}

std::string utc_or_empty(const std::optional<std::int64_t>& t) { return t ? ser::format_utc(*t) : std::string{}; }

json span_json(const time_span& t) {
    json j;
    if (t.threshold != 0) j["threshold"] = t.threshold;
    j["first_frame"] = t.first_frame;
    j["last_frame"] = t.last_frame;
    j["utc_first"] = t.utc_first ? json(ser::format_utc(*t.utc_first)) : json(nullptr);
    j["utc_last"] = t.utc_last ? json(ser::format_utc(*t.utc_last)) : json(nullptr);
    j["seconds"] = number_or_null(t.seconds);
    return j;
}

json limit_json(const amplitude_limit& l) {
    if (!l.reached) return nullptr;
    return json{{"counts", l.counts}, {"sigma", l.sigma}, {"at_faintest_amplitude", l.at_first_rung}};
}

std::string limit_text(const amplitude_limit& l) {
    if (!l.reached) return "- counts - sigma";
    return decimals(l.counts, amplitude_decimals) + " counts " + decimals(l.sigma, amplitude_decimals) + " sigma";
}

std::string percent(double fraction) { return decimals(fraction * 100.0, 1) + "%"; }

std::string covered_text(const file_sensitivity& s) {
    const time_span& c = s.covered;
    if (c.last_frame < c.first_frame) return "no pass ran";
    std::string text = "frames " + std::to_string(c.first_frame) + " to " + std::to_string(c.last_frame);
    if (std::isfinite(c.seconds))
        text += ", " + decimals(c.seconds, 1) + " s (" + utc_or_empty(c.utc_first) + " to " + utc_or_empty(c.utc_last) +
                ")";
    else
        text += ", times unknown";
    return text;
}

std::string rate_text(const file_sensitivity& s) {
    return std::isfinite(s.false_per_hour) ? decimals(s.false_per_hour, 1) : "-";
}

// The completeness curve: completeness against the ladder's amplitudes, with the other unit
// under each rung and the 50 % and 90 % lines.
std::string curve_svg(const file_sensitivity& s) {
    constexpr double w = 640, h = 260, left = 50, right = 20, top = 10, bottom = 60;
    const bool by_sigma = s.options.ladder.unit == amplitude_unit::sigma;
    const auto x_of = [&](const level_result& l) { return by_sigma ? l.sigma : l.counts; };
    const auto other_of = [&](const level_result& l) { return by_sigma ? l.counts : l.sigma; };
    double lo = s.options.ladder.first, hi = s.options.ladder.last;
    if (hi - lo <= 0.0) {
        lo -= 1.0;
        hi += 1.0;
    }
    const auto px = [&](double v) { return left + (w - left - right) * (v - lo) / (hi - lo); };
    const auto py = [&](double c) { return top + (h - top - bottom) * (1.0 - c); };
    const auto f1 = [](double v) { return decimals(v, 1); };
    std::string out =
        "<svg class=\"completeness\" xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"260\" "
        "viewBox=\"0 0 640 260\">\n";
    for (const double c : {0.0, 0.5, 0.9, 1.0}) {
        out += "<line x1=\"" + f1(left) + "\" y1=\"" + f1(py(c)) + "\" x2=\"" + f1(w - right) + "\" y2=\"" + f1(py(c)) +
               "\" stroke=\"#bbb\"" + (c == 0.5 || c == 0.9 ? " stroke-dasharray=\"4 3\"" : "") + "/>\n";
        out += "<text x=\"" + f1(left - 4) + "\" y=\"" + f1(py(c) + 3) + "\" font-size=\"10\" text-anchor=\"end\">" +
               decimals(c * 100.0, 0) + "%</text>\n";
    }
    std::string points;
    for (const level_result& l : s.levels)
        if (l.injected > 0) points += f1(px(x_of(l))) + "," + f1(py(l.completeness())) + " ";
    out += "<polyline fill=\"none\" stroke=\"#2c6fbb\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
    const std::size_t label_every = std::max<std::size_t>(1, s.levels.size() / 13);
    for (std::size_t i = 0; i < s.levels.size(); ++i) {
        const level_result& l = s.levels[i];
        const double x = px(x_of(l));
        if (l.injected > 0)
            out += "<circle cx=\"" + f1(x) + "\" cy=\"" + f1(py(l.completeness())) +
                   "\" r=\"3\" fill=\"#2c6fbb\"><title>" + f1(l.sigma) + " sigma, " + f1(l.counts) +
                   " counts: " + std::to_string(l.recovered) + " of " + std::to_string(l.injected) +
                   " recovered</title></circle>\n";
        if (i % label_every != 0) continue;
        out += "<text x=\"" + f1(x) + "\" y=\"" + f1(h - bottom + 14) + "\" font-size=\"10\" text-anchor=\"middle\">" +
               f1(x_of(l)) + "</text>\n";
        out += "<text x=\"" + f1(x) + "\" y=\"" + f1(h - bottom + 27) +
               "\" font-size=\"9\" fill=\"#666\" text-anchor=\"middle\">" + decimals(other_of(l), 0) + "</text>\n";
    }
    for (const amplitude_limit* l : {&s.half, &s.most}) {
        if (!l->reached) continue;
        const double x = px(by_sigma ? l->sigma : l->counts);
        out += "<line x1=\"" + f1(x) + "\" y1=\"" + f1(py(0)) + "\" x2=\"" + f1(x) + "\" y2=\"" + f1(py(1)) +
               "\" stroke=\"#c0392b\" stroke-dasharray=\"2 2\"/>\n";
    }
    out += "<text x=\"" + f1(left) + "\" y=\"" + f1(h - 8) + "\" font-size=\"10\">amplitude in " +
           (by_sigma ? "multiples of the local standard deviation (counts below)"
                     : "counts (multiples of the local standard deviation below)") +
           "; completeness: share of the injected flashes recovered</text>\n";
    return out + "</svg>\n";
}

// "flash 1, star 4, moving 1, ...": every class in its order.
std::string by_class_text(const file_sensitivity& s) {
    std::string out;
    for (const report::candidate_class c : report::candidate_classes)
        out += (out.empty() ? "" : ", ") + std::string(report::class_name(c)) + " " +
               std::to_string(s.false_by_class[static_cast<std::size_t>(c)]);
    return out;
}

// "2 cosmic_ray, 1 edge": the injected flashes found as a candidate of another class, or empty.
std::string found_otherwise_text(const file_sensitivity& s) {
    std::array<std::int32_t, std::size(report::candidate_classes)> n{};
    for (const planned_flash& p : s.plan.flashes)
        if (p.found_as && *p.found_as != report::candidate_class::flash) ++n[static_cast<std::size_t>(*p.found_as)];
    std::string out;
    for (const report::candidate_class c : report::candidate_classes)
        if (n[static_cast<std::size_t>(c)] > 0)
            out += (out.empty() ? "" : ", ") + std::to_string(n[static_cast<std::size_t>(c)]) + " " +
                   std::string(report::class_name(c));
    return out;
}

std::string row(const std::string& name, const std::string& value) {
    return "<tr><th>" + name + "</th><td>" + value + "</td></tr>\n";
}

} // namespace

std::string sensitivity_csv_path(const std::string& result_dir, const std::string& base_name) {
    return result_dir + "/" + base_name + "_sensitivity.csv";
}
std::string sensitivity_json_path(const std::string& result_dir, const std::string& base_name) {
    return result_dir + "/" + base_name + "_sensitivity.json";
}

std::string sensitivity_csv(const file_sensitivity& s) {
    std::string out = report::csv_line({curve_columns.begin(), curve_columns.end()});
    for (const level_result& l : s.levels)
        out += report::csv_line({report::fixed_decimals(l.sigma, 2), report::fixed_decimals(l.counts, 2),
                                 std::to_string(l.injected), std::to_string(l.recovered),
                                 l.injected > 0 ? report::fixed_decimals(l.completeness(), fraction_decimals) : ""});
    return out;
}

std::string sensitivity_json(const file_sensitivity& s) {
    const sensitivity_options& o = s.options;
    json j;
    j["file"] = s.path;
    j["results_folder"] = s.result_dir;
    j["injection"] = {{"seed", o.seed},
                      {"ladder_unit", unit_name(o.ladder.unit)},
                      {"ladder", {{"first", o.ladder.first}, {"last", o.ladder.last}, {"step", o.ladder.step}}},
                      {"flashes_per_amplitude", o.per_level},
                      {"spot_radius_pixels", o.spot_radius},
                      {"frames_per_flash", o.flash_frames},
                      {"second_frame_part", second_frame_part},
                      {"flashes_per_run", s.plan.per_run},
                      {"runs", s.plan.runs.size()},
                      {"frames_scanned", s.plan.frames_scanned},
                      {"not_placed", s.plan.not_placed},
                      {"recovery", {{"pixels", recovery_pixels}, {"frames", recovery_frames}}},
                      {"least_separation_pixels", least_separation}};
    json levels = json::array();
    for (const level_result& l : s.levels)
        levels.push_back({{"amplitude_sigma", number_or_null(l.sigma)},
                          {"amplitude_counts", number_or_null(l.counts)},
                          {"injected", l.injected},
                          {"recovered", l.recovered},
                          {"completeness", l.injected > 0 ? json(l.completeness()) : json(nullptr)}});
    j["completeness"] = levels;
    j["limits"] = {{"50", limit_json(s.half)}, {"90", limit_json(s.most)}};
    j["inner_area_masked"] = s.plan.masked_fraction;
    json by_class = json::object();
    for (const report::candidate_class c : report::candidate_classes)
        by_class[std::string(report::class_name(c))] = s.false_by_class[static_cast<std::size_t>(c)];
    j["false_candidates"] = {
        {"count", s.false_candidates}, {"per_hour", number_or_null(s.false_per_hour)}, {"by_class", by_class}};
    j["time_source"] = ser::time_source_name(s.time_source);
    j["covered"] = span_json(s.covered);
    json passes = json::array();
    for (const time_span& p : s.passes) passes.push_back(span_json(p));
    j["passes"] = passes;
    json flashes = json::array();
    for (const planned_flash& p : s.plan.flashes)
        flashes.push_back(
            {{"run", p.run},
             {"frame", p.flash.frame},
             {"frames", p.flash.frames},
             {"x", p.flash.x},
             {"y", p.flash.y},
             {"counts", p.flash.counts},
             {"local_sigma", p.local_sigma},
             {"sigma_multiple", p.sigma_multiple()},
             {"found_as", p.found_as ? json(std::string(report::class_name(*p.found_as))) : json(nullptr)},
             {"recovered", p.recovered}});
    j["flashes"] = flashes;
    return j.dump(1) + "\n";
}

std::string sensitivity_section(const file_sensitivity& s) {
    const sensitivity_options& o = s.options;
    std::string out =
        "<h2 id=\"sensitivity\">Sensitivity</h2>\n<p>" + std::to_string(s.plan.flashes.size()) +
        " synthetic flashes of " + std::to_string(o.flash_frames) + (o.flash_frames == 1 ? " frame" : " frames") +
        " (Gaussian spot of radius " + decimals(o.spot_radius, 2) +
        " pixels) were added to the frames as they were read, at random unmasked places of the inner "
        "area, and the same scan was run on them in " +
        std::to_string(s.plan.runs.size()) +
        " runs of one packet each (max_det_frames out of reach, detections counted only at the thresholds and frames "
        "the plain scan's passes covered); a flash counts as recovered when a candidate of class flash lies within " +
        std::to_string(recovery_pixels) + " pixels and " + std::to_string(recovery_frames) + " frame of it.</p>\n";
    out += curve_svg(s);
    out += "<table>\n" + row("50% completeness", limit_text(s.half)) + row("90% completeness", limit_text(s.most)) +
           row("Inner area lost to masks", percent(s.plan.masked_fraction)) +
           row("Candidates of the plain scan", std::to_string(s.false_candidates) + " (" + rate_text(s) +
                                                   " per hour; with no flash injected each is at best unconfirmed)") +
           row("Of each class", by_class_text(s)) +
           row("Injected flashes found as another class",
               found_otherwise_text(s).empty() ? "none" : found_otherwise_text(s)) +
           row("Covered by the passes", covered_text(s)) + "</table>\n";
    out +=
        "<table>\n<tr><th>Amplitude (sigma)</th><th>Amplitude (counts)</th><th>Injected</th><th>Recovered</th>"
        "<th>Completeness</th></tr>\n";
    for (const level_result& l : s.levels)
        out += "<tr><td>" + decimals(l.sigma, 2) + "</td><td>" + decimals(l.counts, 1) + "</td><td>" +
               std::to_string(l.injected) + "</td><td>" + std::to_string(l.recovered) + "</td><td>" +
               (l.injected > 0 ? percent(l.completeness()) : "-") + "</td></tr>\n";
    return out + "</table>\n";
}

std::vector<std::string> sensitivity_lines(const file_sensitivity& s) {
    const sensitivity_options& o = s.options;
    std::vector<std::string> lines;
    lines.push_back(
        s.path + ": sensitivity from " + std::to_string(s.plan.flashes.size()) + " flashes of " +
        std::to_string(o.flash_frames) + (o.flash_frames == 1 ? " frame" : " frames") + " in " +
        std::to_string(s.plan.runs.size()) + " runs of at most " + std::to_string(s.plan.per_run) + " (spot radius " +
        decimals(o.spot_radius, 2) + " px, seed " + std::to_string(o.seed) + ")" + ", " +
        std::to_string(s.plan.frames_scanned) + " frames scanned" +
        (s.plan.not_placed > 0 ? "; " + std::to_string(s.plan.not_placed) + " found no unmasked place" : ""));
    for (const level_result& l : s.levels)
        lines.push_back("  " + decimals(l.sigma, 2) + " sigma, " + decimals(l.counts, 1) +
                        " counts: " + std::to_string(l.recovered) + " of " + std::to_string(l.injected) + " recovered" +
                        (l.injected > 0 ? " (" + percent(l.completeness()) + ")" : ""));
    if (s.half.at_first_rung)
        lines.push_back("  50% completeness is reached at the faintest amplitude tried: the limit lies at or below it");
    if (const std::string other = found_otherwise_text(s); !other.empty())
        lines.push_back("  injected flashes found as another class (not recovered): " + other);
    lines.push_back("  masks: " + percent(s.plan.masked_fraction) + " of the inner area; passes covered " +
                    covered_text(s));
    lines.push_back("  false candidates by class: " + by_class_text(s));
    return lines;
}

std::string sensitivity_last_line(const file_sensitivity& s) {
    return "sensitivity: 50% " + limit_text(s.half) + ", 90% " + limit_text(s.most) + ", false candidates " +
           std::to_string(s.false_candidates) + " (" + rate_text(s) + " per hour)";
}

platform::status write_sensitivity(platform::file_system& fs, const detect::scan_job& job,
                                   const detect::file_report& plain, const file_sensitivity& s,
                                   std::vector<std::string>* written) {
    const std::string base = base_in_folder(job.path);
    const std::string& dir = plain.result_dir;
    const auto write = [&](const std::string& path, const std::string& text) -> platform::status {
        if (const platform::status put = platform::write_whole_file(fs, path, text); !put)
            return platform::status::failure(path + " could not be written (" + put.reason() + ")");
        if (written != nullptr) written->push_back(path);
        return {};
    };
    if (auto st = write(sensitivity_json_path(dir, base), sensitivity_json(s)); !st) return st;
    if (auto st = write(sensitivity_csv_path(dir, base), sensitivity_csv(s)); !st) return st;

    // The page again, as the scan wrote it, with the sensitivity section.
    const std::string page = report::report_html_path(dir, base);
    if (fs.kind_of(page) != platform::entry_kind::file) return {};
    auto input = fs.open_read(job.path);
    if (!input) return platform::status::failure("the SER file could not be opened again for its report page");
    ser::ser_reader reader(std::move(input.value()));
    job.prepare(reader);
    const report::scan_records records{plain.frames, plain.scattered, plain.passes};
    const report::observation o = report::observe(reader, job, dir, records);
    return write(page, report::report_html(o, sensitivity_section(s)));
}

} // namespace serflash::sensitivity
