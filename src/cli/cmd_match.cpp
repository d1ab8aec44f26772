#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/output_file.h"
#include "detect/format.h"
#include "report/csv.h"
#include "report/match.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace serflash::cli {
namespace {

struct match_options {
    std::string a, b;
    double window_ms = 50.0;
    std::string out;
    bool all_classes = false;
};

std::string sigma_text(const report::station_candidate& c) {
    return c.peak_sigma ? report::fixed_decimals(*c.peak_sigma, 2) + " sigma" : std::string("sigma unknown");
}

std::string where(const report::station_candidate& c) {
    return detect::printable_text(c.file) + " candidate " + std::to_string(c.candidate) + ", frame " +
           std::to_string(c.peak_frame) + " (x " + std::to_string(c.x) + ", y " + std::to_string(c.y) + ")";
}

void print_list(std::ostream& out, const std::string& title, const report::station& s,
                const std::vector<std::size_t>& list) {
    out << title << ": " << list.size() << "\n";
    for (const std::size_t i : list) {
        const report::station_candidate& c = s.candidates[i];
        out << "  " << (c.utc_peak.empty() ? std::string("no time") : c.utc_peak) << "  " << where(c) << ", "
            << sigma_text(c) << "\n";
    }
}

bool same_file(const std::string& p, const std::string& q) {
    std::error_code ec;
    return std::filesystem::equivalent(p, q, ec);
}

int run_match(const match_options& o) {
    platform::file_system& fs = platform::native_file_system();
    std::string error;
    auto a = report::read_station(fs, o.a, error);
    if (!a) {
        std::cerr << "serflash match: " << detect::printable_text(error) << "\n";
        return 2;
    }
    auto b = report::read_station(fs, o.b, error);
    if (!b) {
        std::cerr << "serflash match: " << detect::printable_text(error) << "\n";
        return 2;
    }
    if (!o.all_classes) {
        report::keep_flashes(*a);
        report::keep_flashes(*b);
    }
    if (!o.out.empty() && (same_file(o.out, o.a) || same_file(o.out, o.b))) {
        std::cerr << "serflash match: --out " << o.out << " is one of the candidate files; it is not overwritten\n";
        return 2;
    }

    const report::match_result m = report::match_stations(*a, *b, o.window_ms);
    std::cout << "A: " << detect::printable_text(a->path) << ", " << a->candidates.size() << " candidates\n"
              << "B: " << detect::printable_text(b->path) << ", " << b->candidates.size() << " candidates\n"
              << "Pairs (peak times at most " << report::fixed_decimals(o.window_ms, 1)
              << " ms apart, plus half of each frame interval): " << m.pairs.size() << "\n";
    for (const report::candidate_pair& p : m.pairs) {
        const report::station_candidate& ca = a->candidates[p.a];
        const report::station_candidate& cb = b->candidates[p.b];
        std::cout << "  " << ca.utc_peak << "  " << cb.utc_peak << "  " << (p.difference_ms >= 0 ? "+" : "")
                  << report::fixed_decimals(p.difference_ms, 1) << " ms (at most "
                  << report::fixed_decimals(p.allowed_ms, 1) << ")\n"
                  << "      A: " << where(ca) << ", " << sigma_text(ca) << "\n"
                  << "      B: " << where(cb) << ", " << sigma_text(cb) << "\n";
    }
    print_list(std::cout, "Seen only by A", *a, m.unpaired_a);
    print_list(std::cout, "Seen only by B", *b, m.unpaired_b);
    if (!m.untimed_a.empty()) print_list(std::cout, "Not matchable in A (no time)", *a, m.untimed_a);
    if (!m.untimed_b.empty()) print_list(std::cout, "Not matchable in B (no time)", *b, m.untimed_b);

    if (!o.out.empty()) {
        if (const int written = write_output("match", o.out, report::pairs_csv(*a, *b, m)); written != 0)
            return written;
        std::cout << "Pairs written to " << o.out << "\n";
    }
    return 0;
}

} // namespace

command_runner add_match_command(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "match",
        "Pair the candidates of two stations by their peak times: A and B are candidate files written by a scan "
        "(NAME_candidates.csv or NAME_candidates.json; a CSV may hold the tables of several SER files one after "
        "another, a JSON file an array of documents)");
    auto o = std::make_shared<match_options>();
    cmd->add_option("A", o->a, "Candidates of the first station")->required();
    cmd->add_option("B", o->b, "Candidates of the second station")->required();
    cmd->add_option("--window-ms", o->window_ms,
                    "Largest difference of the peak times, in milliseconds, to which half of each candidate's frame "
                    "interval is added (default 50)")
        ->check(number_in(0.0, 3'600'000.0, "from 0 to 3600000 (an hour)"));
    cmd->add_option("--out", o->out, "Write the pairs as a CSV table to this file");
    cmd->add_flag("--all-classes", o->all_classes,
                  "Pair candidates of every class (default: only those of class flash, and those of files written "
                  "before candidates had classes)");
    cmd->footer(
        "Candidates without a time are listed as not matchable. The exit status is 2 when a candidate file "
        "is missing or malformed, 1 when --out cannot be written.");
    return {nullptr, [o] { return run_match(*o); }};
}

} // namespace serflash::cli
