// vet_eval: the confusion table, the flashes not found and the calibration of a scan's candidates
// over made-up nights.
//   vet_eval [--results DIR] NIGHT.truth.json...
//   vet_eval NIGHT.truth.json --candidates Results_NIGHT_s60_599/NIGHT_candidates.json
#include "synth/truth_json.h"
#include "vet_eval/vet_eval.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int usage() {
    std::cerr << "usage: vet_eval [--results DIR] NIGHT.truth.json...\n"
                 "       vet_eval NIGHT.truth.json --candidates NIGHT_candidates.json\n"
                 "Matches each file's candidates (NAME_candidates.json in a folder Results_NAME... of DIR, by default\n"
                 "the truth file's folder) to the events of its truth file, and prints the confusion table, the\n"
                 "flashes not found as flash and the calibration of noise_expected, summed over every file.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace serflash;
    std::string results;
    std::string candidates_file;
    std::vector<std::string> truths;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--results" || a == "--candidates") && i + 1 < argc) {
            (a == "--results" ? results : candidates_file) = argv[++i];
        } else if (a == "-h" || a == "--help" || a.rfind("--", 0) == 0) {
            return usage();
        } else {
            truths.push_back(a);
        }
    }
    if (truths.empty() || (!candidates_file.empty() && truths.size() != 1)) return usage();

    vet_eval::evaluation eval;
    int failures = 0;
    for (const std::string& path : truths) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string why;
        const auto truth = in ? synth::parse_truth_json(text.str(), &why) : std::nullopt;
        if (!truth) {
            std::cerr << "vet_eval: " << path << ": " << (in ? why : "cannot be opened") << "\n";
            ++failures;
            continue;
        }
        const std::string& ser_file = truth->ser_file;
        std::string json_path = candidates_file;
        if (json_path.empty()) {
            const std::string dir = results.empty() ? std::filesystem::path(path).parent_path().string() : results;
            const auto found = vet_eval::find_candidates(dir, ser_file, &why);
            if (!found) {
                std::cerr << "vet_eval: " << path << ": " << why << "\n";
                ++failures;
                continue;
            }
            json_path = *found;
        }
        const auto cands = vet_eval::read_candidates(json_path, &why);
        if (!cands) {
            std::cerr << "vet_eval: " << why << "\n";
            ++failures;
            continue;
        }
        eval.add(std::filesystem::path(ser_file.empty() ? path : ser_file).stem().string(), *truth, *cands);
    }
    std::cout << eval.report();
    return failures == 0 ? 0 : 1;
}
