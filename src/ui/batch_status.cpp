#include "ui/batch_status.h"

#include "ui/review_model.h"

#include <cstdlib>

namespace serflash::ui {
namespace {

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

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

std::string batch_status(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders) {
    std::size_t scanned = 0, frames = 0, candidates = 0, candidate_files = 0;
    std::string early;
    for (const auto& f : report.files) {
        if (f.outcome == detect::file_outcome::not_reached) continue;
        ++scanned;
        frames += static_cast<std::size_t>(std::max(0, f.det_frames));
        const std::string name = std::filesystem::path(f.path).filename().string();
        for (const auto& p : f.passes) {
            if (p.end == detect::pass_end::end_of_range) continue;
            early += (early.empty() ? "" : ", ") + name + " at " + threshold_text(p.threshold) + " (" +
                     detect::pass_end_name(p.end) + ", frame " + std::to_string(p.frame_reached) + ")";
        }
    }
    std::string names;
    for (const auto& folder : folders) {
        for (const auto& json : candidate_files_in(folder)) {
            candidates += read_candidates_file(json).candidates.size();
            ++candidate_files;
        }
        names += (names.empty() ? "" : ", ") + folder.filename().string();
    }
    std::string text = plural(scanned, "file", "files") +
                       " scanned: " + plural(frames, "frame with detections", "frames with detections");
    if (candidate_files > 0) text += ", " + plural(candidates, "candidate", "candidates");
    text += ".";
    if (!names.empty()) text += " Results in " + names + ".";
    if (!early.empty()) text += " Passes ended early: " + early + ".";
    return text;
}

} // namespace serflash::ui
