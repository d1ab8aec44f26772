#pragma once
// Toolkit-free model of the "Candidates" review: the candidates of every NAME_candidates.json
// in a set of results folders, the user's verdict on each (kept in NAME_marks.json beside the
// candidates file, never in the summary) and their export as CSV.
#include "astro/moon_ephemeris.h"
#include "astro/selenographic.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace serflash::ui {

enum class verdict { none, real, false_alarm, unsure };

// "real", "false", "unsure" or "" (none).
const char* verdict_text(verdict v);
std::optional<verdict> verdict_from_text(const std::string& text);

struct light_curve {
    std::int32_t first_frame = 0;
    std::vector<double> excess; // NaN where the file holds no value
    double sigma = 0.0;
    std::vector<std::optional<std::string>> utc;
};

// The Moon as a scan found it in a file: the disk, its orientation and the ephemeris, enough to
// draw the selenographic grid on its frames.
struct file_moon {
    astro::disk_view view;
    astro::moon_ephemeris ephemeris;
};

struct candidate {
    std::int32_t number = 0; // "candidate": 1, 2, ... within its file
    std::string file;        // the SER file's name
    std::int32_t peak_frame = 0;
    std::int32_t first_frame = 0;
    std::int32_t last_frame = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::optional<std::string> utc_peak;
    std::optional<std::string> utc_start;
    std::string time_source;
    std::int32_t duration_frames = 0;
    double peak_sigma = 0.0;
    double peak_excess = 0.0;
    double integrated_excess = 0.0;
    std::int32_t highest_threshold = 0;
    std::vector<std::int32_t> thresholds;
    std::int32_t detections = 0;
    std::string cls;                                                  // "flash", "star", ...; empty in version 1
    double noise_expected = std::numeric_limits<double>::quiet_NaN(); // NaN when not given
    // Where on the Moon and how bright; NaN where the scan could not tell (or was not asked).
    double lat = std::numeric_limits<double>::quiet_NaN();
    double lon = std::numeric_limits<double>::quiet_NaN();
    double lat_lon_err = std::numeric_limits<double>::quiet_NaN();
    double peak_mag = std::numeric_limits<double>::quiet_NaN();
    double peak_mag_err = std::numeric_limits<double>::quiet_NaN();
    double energy_j = std::numeric_limits<double>::quiet_NaN();
    std::string position_note; // why there is no place, or what it rests on
    // The disk of its file, when the scan found and oriented it and had an ephemeris.
    std::shared_ptr<const file_moon> moon;
    // Its place in review_model::order(): flashes first by expected noise, then the other classes.
    std::size_t rank = 0;
    light_curve curve;
    // Its fields as the candidates table writes them, one per column of the candidate record.
    std::vector<std::string> texts;

    // Where it came from.
    std::string ser_path;         // the SER file (a relative path in the document is taken from its folder)
    std::filesystem::path source; // the NAME_candidates.json file
    verdict mark = verdict::none;
};

// The candidates of one NAME_candidates.json, or why it cannot be read.
struct candidates_file {
    std::vector<candidate> candidates;
    std::string error; // empty when read
};
candidates_file read_candidates_file(const std::filesystem::path& json_path);

// NAME_marks.json for NAME_candidates.json (same folder).
std::filesystem::path marks_path_for(const std::filesystem::path& candidates_json);
// The *_candidates.json files of a folder, sorted by name.
std::vector<std::filesystem::path> candidate_files_in(const std::filesystem::path& folder);

class review_model {
public:
    // Reads every candidates file of the folders (and the marks kept beside them). Folders
    // without any are noted in errors().
    void load(const std::vector<std::filesystem::path>& folders);

    const std::vector<candidate>& candidates() const { return candidates_; }
    // Indices of the candidates of one class (all when empty), flashes first by expected noise,
    // then the other classes in groups.
    std::vector<std::size_t> order(const std::string& cls = {}) const;
    // The classes of the candidates, in the order the candidates are grouped (empty: no class).
    std::vector<std::string> classes() const;
    const std::vector<std::string>& errors() const { return errors_; }
    const std::vector<std::filesystem::path>& folders() const { return folders_; }

    // Sets a candidate's verdict and writes its file's marks at once; false (with why) when the
    // marks file cannot be written.
    bool set_mark(std::size_t index, verdict v, std::string* error = nullptr);

    // The candidates table of every file read, with each one's mark in a last column.
    std::string csv() const;
    bool export_csv(const std::filesystem::path& target, std::string* error = nullptr) const;

private:
    std::vector<candidate> candidates_;
    std::vector<std::string> errors_;
    std::vector<std::filesystem::path> folders_;
};

} // namespace serflash::ui
