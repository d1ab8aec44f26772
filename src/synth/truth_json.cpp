#include "synth/truth_json.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>

namespace serflash::synth {
namespace {

using json = nlohmann::ordered_json;

constexpr const char* truth_format = "serflash-truth";

// Four decimals are finer than any measurement of a place or a level; they keep the file short.
double rounded(double v) { return std::round(v * 1e4) / 1e4; }

json settings_json(const night_params& p) {
    const procedural_surface_params& s = p.procedural;
    return json{
        {"width", p.file.width},
        {"height", p.file.height},
        {"depth", p.file.depth},
        {"frames", p.file.frames},
        {"seed", p.file.seed},
        {"fps", p.file.fps},
        {"time_stamps", p.file.write_times},
        {"read_noise", p.read_noise},
        {"shot_noise", p.shot_noise},
        {"full_scale", p.full_scale},
        {"psf_sigma", p.psf_sigma},
        {"seeing", p.seeing},
        {"jitter", p.jitter},
        {"jitter_correlation", p.jitter_correlation},
        {"drift", p.drift},
        {"wobble", p.wobble},
        {"wobble_period", p.wobble_period},
        {"surface", p.surface_override ? json("given")
                                       : json{{"sky", s.sky},
                                              {"earthshine", s.earthshine},
                                              {"texture", s.texture},
                                              {"texture_scale", s.texture_scale},
                                              {"limb", s.limb},
                                              {"limb_softness", s.limb_softness},
                                              {"sunlit", s.sunlit},
                                              {"sunlit_level", s.sunlit_level},
                                              {"terminator_width", s.terminator_width},
                                              {"glare", s.glare},
                                              {"glare_reach", s.glare_reach}}},
        {"flashes", p.flashes},
        {"flash_sigma", {p.flash_sigma_min, p.flash_sigma_max}},
        {"flash_frames_max", p.flash_frames_max},
        {"flashes_at", p.flashes_at.size()},
        {"sky_stars", p.sky_stars},
        {"dark_stars", p.dark_stars},
        {"star_sigma", {p.star_sigma_min, p.star_sigma_max}},
        {"scintillation", p.scintillation},
        {"star_wander", p.star_wander},
        {"satellites", p.satellites},
        {"satellite_sigma", {p.satellite_sigma_min, p.satellite_sigma_max}},
        {"cosmic_rays", p.cosmic_rays},
        {"cosmic_sigma", {p.cosmic_sigma_min, p.cosmic_sigma_max}},
        {"hot_pixels", p.hot_pixels},
        {"camera", p.camera},
        {"hot_sigma", {p.hot_sigma_min, p.hot_sigma_max}},
        {"hot_flicker", p.hot_flicker},
        {"packet", p.packet},
    };
}

json frame_json(const event_frame& f) {
    return json{{"frame", f.frame},
                {"x", rounded(f.x)},
                {"y", rounded(f.y)},
                {"peak_x", f.peak_x},
                {"peak_y", f.peak_y},
                {"amplitude", rounded(f.amplitude)},
                {"peak_rise", rounded(f.peak_rise)},
                {"noise", rounded(f.noise)},
                {"significance", rounded(f.significance)},
                {"packet_significance", rounded(f.packet_significance)}};
}

json event_json(const night_event& e) {
    json j{{"id", e.id},
           {"kind", event_kind_name(e.kind)},
           {"first_frame", e.first_frame},
           {"last_frame", e.last_frame},
           {"x", rounded(e.x)},
           {"y", rounded(e.y)},
           {"region", region_name(e.region)},
           {"amplitude", rounded(e.amplitude)},
           {"significance", e.significance ? json(rounded(*e.significance)) : json(nullptr)},
           {"packet_significance", e.packet_significance ? json(rounded(*e.packet_significance)) : json(nullptr)}};
    switch (e.kind) {
        case event_kind::flash:
            j["decay"] = rounded(e.decay);
            break;
        case event_kind::satellite:
            j["speed_x"] = rounded(e.speed_x);
            j["speed_y"] = rounded(e.speed_y);
            break;
        case event_kind::star:
        case event_kind::hot_pixel:
            j["flicker"] = rounded(e.flicker);
            break;
        case event_kind::cosmic_ray:
            break;
    }
    if (!e.frames.empty()) {
        json frames = json::array();
        for (const event_frame& f : e.frames) frames.push_back(frame_json(f));
        j[e.kind == event_kind::cosmic_ray ? "pixels" : "frames"] = frames;
    }
    return j;
}

template <class T>
T get_or(const json& j, const char* key, T fallback) {
    const auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    return it->get<T>();
}

} // namespace

std::string truth_json(const night_truth& t, const std::string& ser_path) {
    json motion_x = json::array();
    json motion_y = json::array();
    for (const double v : t.shift_x) motion_x.push_back(rounded(v));
    for (const double v : t.shift_y) motion_y.push_back(rounded(v));
    json psf = json::array();
    for (const double v : t.psf) psf.push_back(rounded(v));
    json events = json::array();
    for (const night_event& e : t.events) events.push_back(event_json(e));
    const night_params& p = t.settings;
    const json doc{
        {"format", truth_format},
        {"version", 1},
        {"ser_file", std::filesystem::path(ser_path).filename().string()},
        {"made_by", {{"program", "serflash synth"}, {"preset", p.preset}, {"seed", p.file.seed}}},
        {"settings", settings_json(p)},
        {"width", p.file.width},
        {"height", p.file.height},
        {"frames", t.frames_written},
        {"psf_sigma", p.psf_sigma},
        {"surface", t.surface_description},
        {"notes",
         {"Places are in frame pixels, (0,0) the centre of the top left pixel. A source on the scene "
          "(flash, star) sits at its scene place x,y plus the image motion of the frame: x + motion.x[frame], "
          "y + motion.y[frame]. Hot pixels and cosmic rays are on the sensor and do not move. psf[frame]: the "
          "Gaussian sigma of the spot of stars, flashes and satellites in that frame (the seeing).",
          "significance: the rise of the brightest pixel over the noise a scan's packet statistics would see there "
          "(read and shot noise at its level, rounding, and the swing of its level under the image motion over the "
          "packet of `settings.packet` frames holding the frame). A star's and a hot pixel's are those of its mean "
          "peak; a flash's and a satellite's those of its first frame.",
          "packet_significance: the same rise against the packet statistics with the event's own light in them (its "
          "mean and spread over the packet), as a scan measures it; lower than significance, most for bright events."}},
        {"motion", {{"x", motion_x}, {"y", motion_y}}},
        {"psf", psf},
        {"events", events},
    };
    return doc.dump(1) + "\n";
}

std::optional<night_truth> parse_truth_json(const std::string& text, std::string* error) {
    const auto fail = [&](const std::string& why) -> std::optional<night_truth> {
        if (error) *error = why;
        return std::nullopt;
    };
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return fail("not valid JSON");
    if (get_or<std::string>(j, "format", "") != truth_format) return fail("not a serflash truth file");
    try {
        night_truth t;
        t.settings.file.width = get_or<std::int32_t>(j, "width", 0);
        t.settings.file.height = get_or<std::int32_t>(j, "height", 0);
        t.frames_written = get_or<std::int32_t>(j, "frames", 0);
        t.settings.file.frames = t.frames_written;
        t.settings.psf_sigma = get_or<double>(j, "psf_sigma", 0.8);
        t.surface_description = get_or<std::string>(j, "surface", "");
        t.ser_file = get_or<std::string>(j, "ser_file", "");
        if (const auto m = j.find("made_by"); m != j.end() && m->is_object()) {
            t.settings.preset = get_or<std::string>(*m, "preset", "custom");
            t.settings.file.seed = get_or<std::uint64_t>(*m, "seed", 0);
        }
        if (const auto m = j.find("motion"); m != j.end() && m->is_object()) {
            t.shift_x = get_or<std::vector<double>>(*m, "x", {});
            t.shift_y = get_or<std::vector<double>>(*m, "y", {});
        }
        if (t.shift_x.size() != t.shift_y.size()) return fail("the motion's x and y differ in length");
        t.psf = get_or<std::vector<double>>(j, "psf", {});
        for (const json& ej : j.at("events")) {
            night_event e;
            const auto kind = event_kind_from_name(get_or<std::string>(ej, "kind", ""));
            if (!kind) return fail("an event of unknown kind " + ej.value("kind", std::string("(none)")));
            e.kind = *kind;
            e.id = get_or<std::int32_t>(ej, "id", 0);
            e.first_frame = get_or<std::int32_t>(ej, "first_frame", 0);
            e.last_frame = get_or<std::int32_t>(ej, "last_frame", e.first_frame);
            e.x = get_or<double>(ej, "x", 0.0);
            e.y = get_or<double>(ej, "y", 0.0);
            e.amplitude = get_or<double>(ej, "amplitude", 0.0);
            if (const auto s = ej.find("significance"); s != ej.end() && s->is_number())
                e.significance = s->get<double>();
            if (const auto s = ej.find("packet_significance"); s != ej.end() && s->is_number())
                e.packet_significance = s->get<double>();
            const std::string region = get_or<std::string>(ej, "region", "sky");
            for (surface_region r : {surface_region::sky, surface_region::night, surface_region::day})
                if (region == region_name(r)) e.region = r;
            e.speed_x = get_or<double>(ej, "speed_x", 0.0);
            e.speed_y = get_or<double>(ej, "speed_y", 0.0);
            e.decay = get_or<double>(ej, "decay", 1.0);
            e.flicker = get_or<double>(ej, "flicker", 0.0);
            for (const char* key : {"frames", "pixels"}) {
                const auto fr = ej.find(key);
                if (fr == ej.end() || !fr->is_array()) continue;
                for (const json& fj : *fr) {
                    event_frame f;
                    f.frame = get_or<std::int32_t>(fj, "frame", e.first_frame);
                    f.x = get_or<double>(fj, "x", 0.0);
                    f.y = get_or<double>(fj, "y", 0.0);
                    f.peak_x = get_or<std::int32_t>(fj, "peak_x", static_cast<std::int32_t>(std::lround(f.x)));
                    f.peak_y = get_or<std::int32_t>(fj, "peak_y", static_cast<std::int32_t>(std::lround(f.y)));
                    f.amplitude = get_or<double>(fj, "amplitude", 0.0);
                    f.peak_rise = get_or<double>(fj, "peak_rise", 0.0);
                    f.noise = get_or<double>(fj, "noise", 0.0);
                    f.significance = get_or<double>(fj, "significance", 0.0);
                    f.packet_significance = get_or<double>(fj, "packet_significance", 0.0);
                    e.frames.push_back(f);
                }
            }
            t.events.push_back(std::move(e));
        }
        return t;
    } catch (const json::exception& e) {
        return fail(e.what());
    }
}

} // namespace serflash::synth
