#pragma once
// Writes results folders with NAME_candidates.json files as a scan leaves them.
#include <filesystem>
#include <fstream>
#include <string>

namespace serflash::ui::testing {

// One candidate object; utc null when `utc` is empty.
inline std::string candidate_json(int number, const std::string& file, int peak, int x, int y, double sigma,
                                  const std::string& utc = "") {
    std::string excess, times;
    for (int i = 0; i < 31; ++i) {
        const int frame = peak - 15 + i;
        excess += (i ? "," : "") + std::to_string(frame == peak ? 600.0 : (i % 3) * 2.5);
        times += std::string(i ? "," : "") + (utc.empty() ? "null" : "\"" + utc + "\"");
    }
    const std::string u = utc.empty() ? "null" : "\"" + utc + "\"";
    return "{\"candidate\":" + std::to_string(number) + ",\"file\":\"" + file +
           "\",\"peak_frame\":" + std::to_string(peak) + ",\"first_frame\":" + std::to_string(peak) +
           ",\"last_frame\":" + std::to_string(peak + 1) + ",\"x\":" + std::to_string(x) +
           ",\"y\":" + std::to_string(y) + ",\"utc_peak\":" + u + ",\"utc_start\":" + u +
           ",\"time_source\":\"trailer\",\"duration_frames\":2,\"peak_sigma\":" + std::to_string(sigma) +
           ",\"peak_excess\":600.0,\"integrated_excess\":2100.5,\"highest_threshold\":60,\"thresholds\":[60,57,54],"
           "\"detections\":8,\"light_curve\":{\"first_frame\":" +
           std::to_string(peak - 15) + ",\"excess\":[" + excess + "],\"sigma\":12.5,\"utc\":[" + times + "]}}";
}

// A candidate object with more fields (`"class": "flash", ...`) before its light curve.
inline std::string with_fields(const std::string& candidate, const std::string& fields) {
    std::string out = candidate;
    const std::string at = ",\"light_curve\":";
    out.insert(out.find(at), "," + fields);
    return out;
}

// The document's "moon" block for a disk at (x, y) of this radius, north up, no librations.
inline std::string moon_block(double x, double y, double radius) {
    return "\"moon\": {\"disk\": {\"x\": " + std::to_string(x) + ", \"y\": " + std::to_string(y) +
           ", \"radius\": " + std::to_string(radius) +
           ", \"radius_err\": 0.5}, \"orientation_deg\": 0.0, \"mirror\": false, \"ephemeris\": {\"ra_deg\": 130.0, "
           "\"dec_deg\": 15.0, \"distance_km\": 384400.0, \"semidiameter_arcsec\": 932.0, \"libration_lon_deg\": "
           "0.0, \"libration_lat_deg\": 0.0, \"axis_pa_deg\": 0.0, \"bright_limb_pa_deg\": 90.0, "
           "\"illuminated_fraction\": 0.4, \"sun_colongitude_deg\": 300.0, \"sun_selenographic_lat_deg\": 0.0, "
           "\"topocentric\": false}},\n";
}

// `document` adds fields at the document level (such as moon_block()).
inline void write_candidates(const std::filesystem::path& folder, const std::string& name, const std::string& ser_path,
                             const std::string& candidates, const std::string& document = "") {
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / (name + "_candidates.json"), std::ios::binary);
    out << "{ \"format\": \"serflash-candidates\", \"version\": 1,\n"
           "  \"file\": {\"name\": \""
        << name << ".ser\", \"path\": \"" << ser_path
        << "\", \"size\": 123, \"header\": {}, \"frames_present\": 300},\n"
           "  \"times\": {\"source\": \"trailer\", \"first_utc\": null, \"last_utc\": null, \"frame_rate\": 30.0, "
           "\"dropped_frames\": 0},\n"
           "  \"settings\": {}, \"passes\": [], \"scattered_frames\": [],\n"
        << document << "  \"candidates\": [" << candidates << "] }\n";
}

} // namespace serflash::ui::testing
