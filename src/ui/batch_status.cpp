#include "ui/batch_status.h"

#include "ui/review_model.h"

#include <cstdio>
#include <cstdlib>

namespace serflash::ui {
std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string threshold_text(std::int32_t tenths) {
    const std::string sign = tenths < 0 ? "-" : "";
    const long long magnitude = std::llabs(static_cast<long long>(tenths));
    return sign + std::to_string(magnitude / 10) + "." + std::to_string(magnitude % 10);
}

std::vector<std::filesystem::path> result_folders(const detect::batch_report& report,
                                                  const std::filesystem::path& base) {
    std::vector<std::filesystem::path> folders;
    for (const auto& f : report.files) {
        if (f.result_dir.empty()) continue;
        std::filesystem::path dir = f.result_dir;
        if (dir.is_relative()) dir = base / dir;
        std::error_code ec;
        if (std::filesystem::is_directory(dir, ec)) folders.push_back(dir.lexically_normal());
    }
    return folders;
}

batch_counts count_results(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders) {
    batch_counts c;
    for (const auto& f : report.files) {
        if (f.outcome == detect::file_outcome::not_reached) continue;
        ++c.scanned;
        c.frames += static_cast<std::size_t>(std::max(0, f.det_frames));
    }
    for (const auto& folder : folders) {
        for (const auto& json : candidate_files_in(folder)) {
            c.candidates += read_candidates_file(json).candidates.size();
            ++c.candidate_files;
        }
    }
    return c;
}

std::string batch_headline(const detect::batch_report& report, const batch_counts& counts) {
    const auto clock = [](const detect::local_time& t) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour % 100, t.minute % 100, t.second % 100);
        return std::string(text);
    };
    std::string text = std::string(report.stopped ? "Scan stopped" : "Scan finished") + ": " +
                       plural(counts.scanned, "file", "files") + ", ";
    text += counts.candidate_files > 0 ? plural(counts.candidates, "candidate", "candidates")
                                       : plural(counts.frames, "frame with detections", "frames with detections");
    return text + ", " + clock(report.start) + " to " + clock(report.end);
}

std::string batch_status(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders) {
    const batch_counts counts = count_results(report, folders);
    std::string early, examined;
    for (const auto& f : report.files) {
        if (f.outcome == detect::file_outcome::not_reached) continue;
        const std::string name = std::filesystem::path(f.path).filename().string();
        examined += (examined.empty() ? "" : ", ") + name + " " + f.examined_text();
        for (const auto& p : f.passes) {
            if (p.end == detect::pass_end::end_of_range) continue;
            early += (early.empty() ? "" : ", ") + name + " at " + threshold_text(p.threshold) + " (" +
                     detect::pass_end_name(p.end) + ", frame " + std::to_string(p.frame_reached) + ")";
        }
    }
    std::string names;
    for (const auto& folder : folders) names += (names.empty() ? "" : ", ") + folder.filename().string();
    std::string text = plural(counts.scanned, "file", "files") +
                       " scanned: " + plural(counts.frames, "frame with detections", "frames with detections");
    if (counts.candidate_files > 0) text += ", " + plural(counts.candidates, "candidate", "candidates");
    text += ".";
    if (!examined.empty()) text += " " + examined + ".";
    if (!names.empty()) text += " Results in " + names + ".";
    if (!early.empty()) text += " Passes ended early: " + early + ".";
    return text;
}

} // namespace serflash::ui
