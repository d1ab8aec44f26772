#include "cli/commands.h"
#include "cli/output_file.h"
#include "report/catalog.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace serflash::cli {
namespace {

struct catalog_options {
    std::vector<std::string> dirs;
    std::vector<std::string> outs;
};

enum class catalog_format { csv, json, html };

std::optional<catalog_format> format_of(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".csv") return catalog_format::csv;
    if (ext == ".json") return catalog_format::json;
    if (ext == ".html" || ext == ".htm") return catalog_format::html;
    return std::nullopt;
}

std::string canonical_text(const std::filesystem::path& p) {
    std::error_code ec;
    const auto c = std::filesystem::weakly_canonical(std::filesystem::absolute(p, ec), ec);
    return ec ? p.string() : c.string();
}

// A catalogue is never written into a results folder: that folder is a scan's own.
const report::catalog_folder* folder_holding(const report::catalog& cat, const std::string& out) {
    const std::string parent =
        canonical_text(std::filesystem::path(out).parent_path().empty() ? std::filesystem::path(".")
                                                                        : std::filesystem::path(out).parent_path());
    for (const report::catalog_folder& f : cat.folders)
        if (canonical_text(f.path) == parent) return &f;
    return nullptr;
}

int run_catalog(const catalog_options& o) {
    for (const std::string& out : o.outs)
        if (!format_of(out)) {
            std::cerr << "serflash catalog: --out " << out << ": the name must end in .csv, .json or .html\n";
            return 2;
        }
    const report::catalog cat = report::build_catalog(platform::native_file_system(), o.dirs);
    for (const report::passed_over& p : cat.skipped)
        std::cerr << "serflash catalog: passed over " << p.path << ": " << p.reason << "\n";
    for (const std::string& out : o.outs)
        if (const report::catalog_folder* f = folder_holding(cat, out)) {
            std::cerr << "serflash catalog: --out " << out << " lies in the results folder " << f->path
                      << ", which holds a scan's own files; choose another place\n";
            return 2;
        }
    if (o.outs.empty()) {
        std::cout << report::catalog_csv(cat) << std::flush;
        return 0;
    }
    int status = 0;
    for (const std::string& out : o.outs) {
        std::string text;
        switch (*format_of(out)) {
            case catalog_format::csv:
                text = report::catalog_csv(cat);
                break;
            case catalog_format::json:
                text = report::catalog_json(cat);
                break;
            case catalog_format::html:
                text = report::catalog_html(cat, std::filesystem::path(out).parent_path().string());
                break;
        }
        if (const int written = write_output("catalog", out, text); written != 0) {
            status = written;
            continue;
        }
        std::cout << "written: " << out << "\n";
    }
    std::cout << "catalog: " << cat.rows.size() << (cat.rows.size() == 1 ? " candidate" : " candidates") << " from "
              << cat.folders.size() << (cat.folders.size() == 1 ? " results folder" : " results folders") << ", "
              << cat.skipped.size() << " passed over\n";
    return status;
}

} // namespace

command_runner add_catalog_command(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "catalog",
        "Merge the candidates of every results folder found under the folders DIR into one table: the file, its "
        "results folder, the UTC time of its first frame, every candidate column and the path of the file's report "
        "page. Folders scanned in one run or file by file on several machines give the same rows. Results folders "
        "without a readable candidates document are named on stderr with the reason");
    auto o = std::make_shared<catalog_options>();
    cmd->add_option("dirs", o->dirs, "Folders to search (results folders themselves, or folders holding them)")
        ->required();
    cmd->add_option("--out", o->outs,
                    "Write the catalogue to this file: NAME.csv (a table that opens safely in a spreadsheet), "
                    "NAME.json (rows, folders and what was passed over) or NAME.html (a page linking to each file's "
                    "report); may be given more than once (default: the CSV table on stdout)");
    cmd->footer("The exit status is 2 for a bad --out, 1 when an output cannot be written, 0 otherwise.");
    return {nullptr, [o] { return run_catalog(*o); }};
}

} // namespace serflash::cli
