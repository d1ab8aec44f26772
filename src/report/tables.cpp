#include "report/tables.h"

#include "report/csv.h"
#include "ser/text_cp932.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace serflash::report {
namespace {

using json = nlohmann::ordered_json;

json number_or_null(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json text_or_null(const std::string& s) { return s.empty() ? json(nullptr) : json(s); }

template <std::size_t N>
std::string header_text(const std::array<char, N>& field) {
    const auto nul = std::find(field.begin(), field.end(), '\0');
    return ser::cp932_to_printable_utf8(std::string_view(field.data(), static_cast<std::size_t>(nul - field.begin())));
}

json header_json(const ser::ser_header& h) {
    return json{{"FileID", header_text(h.FileID)},
                {"LuID", h.LuID},
                {"ColorID", h.ColorID},
                {"LittleEndian", h.LittleEndian},
                {"ImageWidth", h.ImageWidth},
                {"ImageHeight", h.ImageHeight},
                {"PixelDepthPerPlane", h.PixelDepthPerPlane},
                {"FrameCount", h.FrameCount},
                {"Observer", header_text(h.Observer)},
                {"Instrument", header_text(h.Instrument)},
                {"Telescope", header_text(h.Telescope)},
                {"Datetime", h.Datetime},
                {"DatetimeUTC", h.DatetimeUTC}};
}

json corners_json(const std::array<detect::packed_point, 4>& corners) {
    json out = json::array();
    for (const detect::packed_point p : corners) out.push_back({{"x", detect::point_x(p)}, {"y", detect::point_y(p)}});
    return out;
}

json settings_json(const observation& o) {
    const detect::scan_settings& s = o.settings;
    return json{{"start_frame", s.start_frame},
                {"end_frame", s.end_frame},
                {"max_det_frames", s.max_det_frames},
                {"packet_size", s.packet_size},
                {"blue_level", s.blue_level},
                {"red_level", s.red_level},
                {"brightness", s.brightness},
                {"threshold", s.threshold},
                {"threshold_step", s.threshold_step},
                {"pct_top", s.pct_top},
                {"pct_bottom", s.pct_bottom},
                {"pct_left", s.pct_left},
                {"pct_right", s.pct_right},
                {"mask_ul", corners_json(s.mask_ul)},
                {"mask_lr", corners_json(s.mask_lr)},
                {"red_mask_half", s.red_mask_half},
                {"blue_mask_half", s.blue_mask_half},
                {"star_mask_half", s.star_mask_half},
                {"star_half_width", s.star_half_width},
                {"star_threshold", s.star_threshold},
                {"scatter_v", s.scatter_v},
                {"scatter_h", s.scatter_h},
                {"continue_after_scatter", s.continue_after_scatter},
                {"complete", s.complete},
                {"complete_threshold", s.complete_threshold},
                {"snapshots", std::string(detect::snapshot_format_name(s.snapshots))},

                {"switches", {{"red", o.switches.red}, {"blue", o.switches.blue}, {"stars", o.switches.stars}}},
                {"bit_shift", o.bit_shift},
                {"swap_bytes", o.swap_bytes}};
}

json light_curve_json(const observation& o, const measured_candidate& m) {
    json curve_utc = json::array();
    for (std::size_t i = 0; i < m.curve.excess.size(); ++i)
        curve_utc.push_back(text_or_null(o.utc_text(m.curve.first_frame + static_cast<std::int32_t>(i))));
    json excess = json::array();
    for (const double e : m.curve.excess) excess.push_back(number_or_null(e));
    return {{"first_frame", m.curve.first_frame},
            {"excess", excess},
            {"sigma", number_or_null(m.curve.sigma)},
            {"utc", curve_utc}};
}

// Energies span many powers of ten: four significant digits.
std::string energy_text(const json& value) {
    if (!value.is_number()) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", value.get<double>());
    return buf;
}

using om = const measured_candidate&;
using ob = const observation&;

// A candidate's selenographic position, or null.
json position_value(om m, double located_point_value(const astro::located_point&)) {
    return m.position.at ? json(located_point_value(*m.position.at)) : json(nullptr);
}

// The candidate record. The CSV table holds these columns in this order; each candidate's JSON
// object holds them too, followed by its light curve.
const candidate_column columns[] = {
    {"candidate", plain_text, [](ob, om m) -> json { return m.c.number; }},
    {"file", plain_text, [](ob o, om) -> json { return o.name; }},
    {"peak_frame", plain_text, [](ob, om m) -> json { return m.c.peak.frame; }},
    {"first_frame", plain_text, [](ob, om m) -> json { return m.c.first_frame; }},
    {"last_frame", plain_text, [](ob, om m) -> json { return m.c.last_frame; }},
    {"x", plain_text, [](ob, om m) -> json { return m.c.peak.det.x; }},
    {"y", plain_text, [](ob, om m) -> json { return m.c.peak.det.y; }},
    {"utc_peak", plain_text, [](ob o, om m) { return text_or_null(o.utc_text(m.c.peak.frame)); }},
    {"utc_start", plain_text, [](ob o, om m) { return text_or_null(o.utc_text(m.c.first_frame)); }},
    {"time_source", plain_text, [](ob o, om) -> json { return ser::time_source_name(o.times.source); }},
    {"duration_frames", plain_text, [](ob, om m) -> json { return m.c.duration_frames(); }},
    {"peak_sigma", decimals_text<sigma_decimals>, [](ob, om m) { return number_or_null(m.c.peak.significance()); }},
    {"peak_excess", decimals_text<counts_decimals>, [](ob, om m) { return number_or_null(m.c.peak.excess()); }},
    {"integrated_excess", decimals_text<counts_decimals>, [](ob, om m) { return number_or_null(m.integrated_excess); }},
    {"highest_threshold", plain_text, [](ob, om m) -> json { return m.c.highest_threshold(); }},
    {"thresholds", plain_text, [](ob, om m) -> json { return m.c.thresholds; }},
    {"detections", plain_text, [](ob, om m) -> json { return m.c.detections; }},
    {"class", plain_text, [](ob, om m) -> json { return class_name(m.cls); }},
    {"noise_expected", significant_text, [](ob, om m) { return number_or_null(m.noise_expected); }},
    {"end_x", plain_text, [](ob, om m) -> json { return m.end_x; }},
    {"end_y", plain_text, [](ob, om m) -> json { return m.end_y; }},
    {"lat", decimals_text<degrees_decimals>,
     [](ob, om m) { return position_value(m, [](const astro::located_point& p) { return p.at.lat_deg; }); }},
    {"lon", decimals_text<degrees_decimals>,
     [](ob, om m) { return position_value(m, [](const astro::located_point& p) { return p.at.lon_deg; }); }},
    {"lat_lon_err", decimals_text<degrees_decimals>,
     [](ob, om m) { return position_value(m, [](const astro::located_point& p) { return p.err_deg; }); }},
    {"peak_mag", decimals_text<magnitude_decimals>, [](ob, om m) { return number_or_null(m.brightness.peak_mag); }},
    {"peak_mag_err", decimals_text<magnitude_decimals>,
     [](ob, om m) { return number_or_null(m.brightness.peak_mag_err); }},
    {"energy_j", energy_text, [](ob, om m) { return number_or_null(m.brightness.energy_j); }},
};

// What the class was decided from (the document only).
json measures_json(const measured_candidate& m) {
    const class_measures& x = m.measures;
    return {{"width", number_or_null(x.width)},
            {"psf_width", number_or_null(x.psf_width)},
            {"psf_from", x.psf_measured ? "stars" : "default"},
            {"elongation", number_or_null(x.elongation)},
            {"mean_excess", number_or_null(x.mean_excess)},
            {"gradient", number_or_null(x.gradient)},
            {"source_width", number_or_null(m.source_width)},
            {"start_x", m.start_x},
            {"start_y", m.start_y},
            {"speed", number_or_null(m.speed)},
            {"track_members", m.track_members},
            {"track_frames_found", m.searched.frames_found},
            {"track_first_frame", m.track_first_frame},
            {"track_last_frame", m.track_last_frame},
            {"noise_from", m.noise_from_sources ? "sources" : "noise model"}};
}

json noise_json(const noise_model& n) {
    return {
        {"method", n.method},     {"note", n.note},   {"trials", n.trials},      {"mirrored_events", n.mirrored_events},
        {"fit_from", n.fit_from}, {"slope", n.slope}, {"intercept", n.intercept}};
}

// The reported quantities, and what the disk's computation also used.
json ephemeris_block(const astro::moon_ephemeris& e) {
    json out = ephemeris_json(e);
    out["sun_selenographic_lat_deg"] = e.sun_selenographic_lat_deg;
    out["topocentric"] = e.topocentric;
    return out;
}

// The disk, its orientation and the ephemeris of the file; null when the Moon was not looked for.
json moon_json(const observation& o) {
    const moon_observation& m = o.moon;
    if (!m.looked) return nullptr;
    json disk = nullptr;
    if (m.limb.found) {
        const astro::disk_circle& d = m.limb.disk;
        disk = {{"x", d.x},
                {"y", d.y},
                {"radius", d.radius},
                {"radius_err", d.radius_err},
                {"x_err", d.x_err},
                {"y_err", d.y_err},
                {"points", m.limb.points},
                {"arc_deg", m.limb.arc_deg},
                {"rms_px", m.limb.rms_px}};
    }
    json site = nullptr;
    if (m.site) site = {{"lat_deg", m.site->lat_deg}, {"lon_deg", m.site->lon_deg}, {"height_m", m.site->height_m}};
    return json{{"disk", disk},
                {"disk_note", text_or_null(m.limb.found ? std::string{} : m.limb.why_not)},
                {"frames_averaged", m.frames_averaged},
                {"orientation_deg", m.oriented ? json(m.view.orientation_deg) : json(nullptr)},
                {"orientation_err_deg", m.oriented ? json(m.view.orientation_err_deg) : json(nullptr)},
                {"orientation_source", m.orientation_source},
                {"mirror", m.view.mirror},
                {"scale_arcsec_per_px", m.scale_arcsec_per_px > 0 ? json(m.scale_arcsec_per_px) : json(nullptr)},
                {"site", site},
                {"utc", text_or_null(m.utc_ticks ? ser::format_utc(*m.utc_ticks) : std::string{})},
                {"ephemeris", m.ephemeris ? ephemeris_block(*m.ephemeris) : json(nullptr)},
                {"ephemeris_note", text_or_null(m.ephemeris_note())}};
}

json candidate_json(const observation& o, const measured_candidate& m) {
    json out = json::object();
    for (const candidate_column& column : columns) out[column.name] = column.to_json(o, m);
    if (o.moon.looked)
        out["position_note"] = text_or_null(m.position.at ? o.moon.ephemeris_note() : m.position.why_not);
    out["light_curve"] = light_curve_json(o, m);
    out["measures"] = measures_json(m);
    return out;
}

} // namespace

nlohmann::ordered_json ephemeris_json(const astro::moon_ephemeris& e) {
    json out = json::object();
    for (const astro::reported_quantity& q : astro::reported_quantities) out[q.key] = e.*q.value;
    return out;
}

std::string thresholds_text(const std::vector<std::int32_t>& thresholds) {
    std::string s;
    for (const std::int32_t t : thresholds) s += (s.empty() ? "" : " ") + std::to_string(t);
    return s;
}

std::string candidate_line(const measured_candidate& m, const ser::frame_times& times) {
    const detect::candidate& c = m.c;
    const auto utc = times.utc_of(c.peak.frame);
    std::string line = "candidate " + std::to_string(c.number) + ": frame " + std::to_string(c.peak.frame) + ", x " +
                       std::to_string(c.peak.det.x) + ", y " + std::to_string(c.peak.det.y) + ", " +
                       (utc ? ser::format_utc(*utc) : std::string("no time"));
    if (times.source == ser::time_source::header_fps) line += " (estimated)";
    const std::string sigma = fixed_decimals(c.peak.significance(), sigma_decimals);
    line += ", " + (sigma.empty() ? std::string("n/a") : sigma) + " sigma, " + std::string(class_name(m.cls));
    if (m.cls == candidate_class::moving)
        line += " to x " + std::to_string(m.end_x) + ", y " + std::to_string(m.end_y) + " by frame " +
                std::to_string(c.last_frame) + " (" + fixed_decimals(m.speed, 1) + " px per frame)";
    const std::string noise = significant_text(m.noise_expected);
    return line + ", noise " + (noise.empty() ? std::string("n/a") : noise);
}

std::span<const candidate_column> candidate_table() { return columns; }

const candidate_column* find_candidate_column(std::string_view name) {
    for (const candidate_column& column : columns)
        if (name == column.name) return &column;
    return nullptr;
}

std::string plain_text(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return {};
    if (value.is_array()) {
        std::string out;
        for (const json& v : value) out += (out.empty() ? "" : " ") + plain_text(v);
        return out;
    }
    return value.dump();
}

std::string significant_text(const json& value) {
    return value.is_number() ? significant_text(value.get<double>()) : std::string{};
}

std::string significant_text(double value) {
    if (!std::isfinite(value)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

std::vector<std::string> candidate_column_names() {
    std::vector<std::string> names;
    for (const candidate_column& column : columns) names.emplace_back(column.name);
    return names;
}

std::vector<std::string> candidate_texts(const json& candidate) {
    std::vector<std::string> texts;
    for (const candidate_column& column : columns) {
        const auto it = candidate.is_object() ? candidate.find(column.name) : candidate.end();
        texts.push_back(it == candidate.end() ? std::string{} : column.to_text(*it));
    }
    return texts;
}

std::string candidates_csv(const observation& o) {
    std::string out = csv_line(candidate_column_names());
    for (const measured_candidate& m : o.candidates) {
        json values = json::object();
        for (const candidate_column& column : columns) values[column.name] = column.to_json(o, m);
        out += csv_line(candidate_texts(values));
    }
    return out;
}

std::string candidates_json(const observation& o) {
    json passes = json::array();
    for (const detect::pass_report& p : o.passes)
        passes.push_back({{"threshold", p.threshold},
                          {"first_frame", p.first_frame},
                          {"last_frame_examined", last_frame_examined(p)},
                          {"end", detect::pass_end_name(p.end)},
                          {"frames_with_detections", p.saved_frames},
                          {"detections", p.detections},
                          {"every_frame", p.complete}});
    json scattered = json::array();
    for (const detect::scattered_frame& s : o.scattered)
        scattered.push_back({{"threshold", s.threshold},
                             {"frame", s.frame},
                             {"points", s.points},
                             {"row_span", s.row_span},
                             {"col_span", s.col_span},
                             {"every_frame", s.every_frame}});
    json candidates = json::array();
    for (const measured_candidate& m : o.candidates) candidates.push_back(candidate_json(o, m));
    const std::int32_t last = static_cast<std::int32_t>(o.times.utc_ticks.size()) - 1;
    const json doc{{"format", "serflash-candidates"},
                   {"version", 2},
                   {"file",
                    {{"name", o.name},
                     {"path", o.path_from_results},
                     {"size", o.size},
                     {"header", header_json(o.header)},
                     {"frames_present", o.frames_present}}},
                   {"times",
                    {{"source", ser::time_source_name(o.times.source)},
                     {"first_utc", text_or_null(o.utc_text(0))},
                     {"last_utc", text_or_null(o.utc_text(last))},
                     {"frame_rate", o.times.frame_rate > 0.0 ? number_or_null(o.times.frame_rate) : json(nullptr)},
                     {"dropped_frames", o.times.dropped_frames},
                     {"gaps_after", o.times.gaps_after},
                     {"notes", o.times.notes}}},
                   {"settings", settings_json(o)},
                   {"passes", passes},
                   {"scattered_frames", scattered},
                   {"noise", noise_json(o.noise)},
                   {"moon", moon_json(o)},
                   {"candidates", candidates}};
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace serflash::report
