#include "vet_eval/vet_eval.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace serflash::vet_eval {
namespace {

using json = nlohmann::json;
using synth::event_kind;

std::optional<double> number_at(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::int32_t int_at(const json& j, const char* key, std::int32_t fallback) {
    const auto v = number_at(j, key);
    return v ? static_cast<std::int32_t>(std::lround(*v)) : fallback;
}

double distance(double ax, double ay, double bx, double by) { return std::hypot(ax - bx, ay - by); }

bool overlaps(std::int32_t a0, std::int32_t a1, std::int32_t b0, std::int32_t b1) { return a0 <= b1 && b0 <= a1; }

// How far the candidate lies from the event in the frames they share; infinite when they share
// none (one frame of slack either side: a detection may start in the frame before the peak).
double distance_to(const synth::night_truth& t, const synth::night_event& e, const candidate& c) {
    constexpr double far = std::numeric_limits<double>::infinity();
    const auto places = [&](double px, double py) {
        double d = distance(c.x, c.y, px, py);
        if (c.end_x && c.end_y) d = std::min(d, distance(*c.end_x, *c.end_y, px, py));
        return d;
    };
    switch (e.kind) {
        case event_kind::flash:
        case event_kind::satellite: {
            double best = far;
            for (const synth::event_frame& f : e.frames)
                if (f.frame >= c.first_frame - 1 && f.frame <= c.last_frame + 1)
                    best = std::min(best, places(f.x, f.y));
            return best;
        }
        case event_kind::cosmic_ray: {
            if (!overlaps(c.first_frame, c.last_frame, e.first_frame, e.last_frame)) return far;
            double best = far;
            for (const synth::event_frame& f : e.frames) best = std::min(best, places(f.x, f.y));
            return best;
        }
        case event_kind::hot_pixel:
            return places(e.x, e.y);
        case event_kind::star: {
            double best = far;
            const auto n = static_cast<std::int32_t>(t.shift_x.size());
            for (std::int32_t k = std::max(c.first_frame, 0); k <= std::min(c.last_frame, n - 1); ++k)
                best = std::min(best, places(e.x + t.shift_x[static_cast<std::size_t>(k)],
                                             e.y + t.shift_y[static_cast<std::size_t>(k)]));
            if (n == 0) best = places(e.x, e.y);
            return best;
        }
    }
    return far;
}

// Events that come and go rank before those always there, when a candidate lies as near to both.
int rank_of(event_kind k) {
    switch (k) {
        case event_kind::flash:
            return 0;
        case event_kind::satellite:
            return 1;
        case event_kind::cosmic_ray:
            return 2;
        case event_kind::hot_pixel:
            return 3;
        case event_kind::star:
            return 4;
    }
    return 5;
}

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

} // namespace

std::optional<std::vector<candidate>> read_candidates(const std::string& path, std::string* error) {
    const auto fail = [&](const std::string& why) -> std::optional<std::vector<candidate>> {
        if (error) *error = path + ": " + why;
        return std::nullopt;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot be opened");
    const json j = json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return fail("not valid JSON");
    if (j.value("format", std::string()) != "serflash-candidates" || !j.contains("candidates") ||
        !j["candidates"].is_array())
        return fail("not a serflash candidates file");
    std::vector<candidate> out;
    for (const json& cj : j["candidates"]) {
        if (!cj.is_object()) continue;
        candidate c;
        c.number = int_at(cj, "candidate", 0);
        c.x = int_at(cj, "x", 0);
        c.y = int_at(cj, "y", 0);
        c.peak_frame = int_at(cj, "peak_frame", 0);
        c.first_frame = int_at(cj, "first_frame", c.peak_frame);
        c.last_frame = int_at(cj, "last_frame", c.peak_frame);
        c.end_x = number_at(cj, "end_x");
        c.end_y = number_at(cj, "end_y");
        if (const auto cls = cj.find("class"); cls != cj.end() && cls->is_string() && !cls->get<std::string>().empty())
            c.cls = cls->get<std::string>();
        c.noise_expected = number_at(cj, "noise_expected");
        c.peak_sigma = number_at(cj, "peak_sigma").value_or(0.0);
        out.push_back(c);
    }
    return out;
}

std::vector<std::optional<std::size_t>> match_candidates(const synth::night_truth& t,
                                                         const std::vector<candidate>& cands) {
    std::vector<std::optional<std::size_t>> out;
    for (const candidate& c : cands) {
        std::optional<std::size_t> best;
        double best_d = match_reach;
        for (std::size_t i = 0; i < t.events.size(); ++i) {
            const double d = distance_to(t, t.events[i], c);
            if (d > match_reach) continue;
            const bool nearer = d < best_d - 1e-9;
            const bool as_near_but_transient =
                best && std::abs(d - best_d) <= 1e-9 && rank_of(t.events[i].kind) < rank_of(t.events[*best].kind);
            if (!best || nearer || as_near_but_transient) {
                best = i;
                best_d = d;
            }
        }
        out.push_back(best);
    }
    return out;
}

void evaluation::add(const std::string& file, const synth::night_truth& t, const std::vector<candidate>& cands) {
    ++files;
    const auto matched = match_candidates(t, cands);
    std::vector<std::vector<const candidate*>> on_event(t.events.size());
    file_calibration cal;
    cal.file = file;
    cal.preset = t.settings.preset;
    for (std::size_t i = 0; i < cands.size(); ++i) {
        const candidate& c = cands[i];
        const std::string kind = matched[i] ? synth::event_kind_name(t.events[*matched[i]].kind) : no_event;
        ++table[kind][c.cls];
        if (matched[i]) on_event[*matched[i]].push_back(&c);
        if (kind != "flash") {
            ++others;
            if (c.cls == "flash" && c.noise_expected && *c.noise_expected < 1.0) ++others_as_confident_flash;
        }
        if (!matched[i]) {
            ++cal.unexplained;
            if (!c.noise_expected) {
                ++cal.without_noise_expected;
            } else {
                for (std::size_t l = 0; l < calibration_limits.size(); ++l)
                    if (*c.noise_expected <= calibration_limits[l]) ++cal.at_most[l];
            }
        }
    }
    calibration.push_back(cal);
    for (std::size_t i = 0; i < t.events.size(); ++i) {
        const synth::night_event& e = t.events[i];
        const auto& found = on_event[i];
        if (e.kind == event_kind::satellite) {
            ++satellites;
            if (!found.empty()) ++satellites_found;
            if (found.size() == 1 && found.front()->cls == "moving") ++satellites_one_moving;
        }
        if (e.kind != event_kind::flash) continue;
        ++flashes;
        const double sig = e.significance.value_or(0.0);
        const bool as_flash =
            std::any_of(found.begin(), found.end(), [](const candidate* c) { return c->cls == "flash"; });
        if (sig >= 10.0 && e.region == synth::surface_region::night) {
            ++flashes_10_sigma;
            if (!found.empty()) ++flashes_10_sigma_found;
            if (as_flash) ++flashes_10_sigma_as_flash;
        }
        if (!as_flash) {
            missed_flash m;
            m.file = file;
            m.id = e.id;
            m.first_frame = e.first_frame;
            m.x = e.frames.empty() ? e.x : e.frames.front().x;
            m.y = e.frames.empty() ? e.y : e.frames.front().y;
            m.significance = sig;
            std::set<std::string> classes;
            for (const candidate* c : found) classes.insert(c->cls);
            for (const std::string& cls : classes) m.found_as += (m.found_as.empty() ? "" : " ") + cls;
            flashes_not_found_as_flash.push_back(m);
        }
    }
}

std::string evaluation::report() const {
    std::ostringstream out;
    const std::vector<std::string> kinds = {"flash", "star", "satellite", "cosmic_ray", "hot_pixel", no_event};
    std::vector<std::string> classes = {"flash",     "star", "moving",    "cosmic_ray",
                                        "hot_pixel", "edge", "scattered", "unclassified"};
    for (const auto& [kind, row] : table)
        for (const auto& [cls, n] : row)
            if (std::find(classes.begin(), classes.end(), cls) == classes.end()) classes.push_back(cls);
    out << "Confusion table over " << files << " file" << (files == 1 ? "" : "s")
        << ": candidates by true kind (rows) and class (columns)\n";
    char cell[64];
    std::snprintf(cell, sizeof cell, "%-12s", "true \\ class");
    out << cell;
    for (const std::string& cls : classes) {
        std::snprintf(cell, sizeof cell, " %12s", cls.c_str());
        out << cell;
    }
    out << " " << std::string(6, ' ') << "total\n";
    for (const std::string& kind : kinds) {
        std::snprintf(cell, sizeof cell, "%-12s", kind.c_str());
        out << cell;
        std::size_t total = 0;
        const auto row = table.find(kind);
        for (const std::string& cls : classes) {
            std::size_t n = 0;
            if (row != table.end())
                if (const auto it = row->second.find(cls); it != row->second.end()) n = it->second;
            total += n;
            std::snprintf(cell, sizeof cell, " %12zu", n);
            out << cell;
        }
        std::snprintf(cell, sizeof cell, " %11zu", total);
        out << cell << "\n";
    }
    out << "\nFlashes: " << flashes << "; of 10 sigma or more on the night side: " << flashes_10_sigma
        << ", with a candidate: " << flashes_10_sigma_found << ", found as flash: " << flashes_10_sigma_as_flash
        << "\n";
    out << "Other candidates: " << others
        << ", of them class flash with noise_expected below 1: " << others_as_confident_flash;
    if (others > 0)
        out << " (" << fixed(100.0 * static_cast<double>(others_as_confident_flash) / static_cast<double>(others), 1)
            << " %)";
    out << "\nSatellites: " << satellites << ", with a candidate: " << satellites_found
        << ", each one candidate of class moving: " << satellites_one_moving << "\n";
    if (!flashes_not_found_as_flash.empty()) {
        out << "\nFlashes not found as flash:\n";
        for (const missed_flash& m : flashes_not_found_as_flash)
            out << "  " << m.file << ": event " << m.id << ", frame " << m.first_frame << ", x " << fixed(m.x, 1)
                << ", y " << fixed(m.y, 1) << ", " << fixed(m.significance, 1)
                << " sigma: " << (m.found_as.empty() ? "no candidate" : "found as " + m.found_as) << "\n";
    }
    out << "\nCalibration: candidates no event explains, with noise_expected at most x\n";
    std::snprintf(cell, sizeof cell, "%-32s %8s", "file", "all");
    out << cell;
    for (const double x : calibration_limits) {
        std::snprintf(cell, sizeof cell, " %7s", ("<=" + fixed(x, x < 1 ? 1 : 0)).c_str());
        out << cell;
    }
    out << "  without\n";
    std::array<double, 5> sums{};
    std::size_t noise_files = 0;
    std::size_t noise_unexplained = 0;
    std::size_t noise_without = 0;
    for (const file_calibration& c : calibration) {
        std::snprintf(cell, sizeof cell, "%-32s %8zu", (c.file + (c.preset == "noise-only" ? " (noise)" : "")).c_str(),
                      c.unexplained);
        out << cell;
        for (const std::size_t n : c.at_most) {
            std::snprintf(cell, sizeof cell, " %7zu", n);
            out << cell;
        }
        out << "  " << c.without_noise_expected << "\n";
        if (c.preset == "noise-only") {
            ++noise_files;
            noise_unexplained += c.unexplained;
            noise_without += c.without_noise_expected;
            for (std::size_t l = 0; l < sums.size(); ++l) sums[l] += static_cast<double>(c.at_most[l]);
        }
    }
    if (noise_files > 0) {
        const auto per_file = [&](std::size_t n) {
            return fixed(static_cast<double>(n) / static_cast<double>(noise_files), 2);
        };
        std::snprintf(cell, sizeof cell, "%-32s %8s",
                      ("mean of " + std::to_string(noise_files) + " noise-only").c_str(),
                      per_file(noise_unexplained).c_str());
        out << cell;
        const bool measured = noise_without < noise_unexplained || noise_unexplained == 0;
        for (const double s : sums) {
            std::snprintf(cell, sizeof cell, " %7s",
                          measured ? fixed(s / static_cast<double>(noise_files), 2).c_str() : "n/a");
            out << cell;
        }
        out << "  " << per_file(noise_without)
            << (measured ? "  (calibrated: about x per file)\n" : "  (no noise_expected in these candidates)\n");
    }
    return out.str();
}

std::optional<std::string> find_candidates(const std::string& dir, const std::string& ser_file, std::string* error) {
    namespace fs = std::filesystem;
    const std::string base = fs::path(ser_file).stem().string();
    const std::string name = base + "_candidates.json";
    std::vector<std::string> found;
    std::error_code ec;
    for (const fs::directory_entry& d : fs::directory_iterator(dir.empty() ? "." : dir, ec)) {
        const std::string folder = d.path().filename().string();
        const std::string prefix = "Results_" + base;
        if (folder != prefix && folder.rfind(prefix + "_s", 0) != 0) continue;
        if (fs::is_regular_file(d.path() / name, ec)) found.push_back((d.path() / name).string());
    }
    if (ec && error) *error = dir + ": " + ec.message();
    if (found.size() == 1) return found.front();
    if (error) {
        if (found.empty()) {
            *error = "no " + name + " in a folder Results_" + base + "... of " + (dir.empty() ? "." : dir);
        } else {
            std::sort(found.begin(), found.end());
            *error = "several results for " + base + " (give one with --candidates):";
            for (const std::string& f : found) *error += " " + f;
        }
    }
    return std::nullopt;
}

} // namespace serflash::vet_eval
