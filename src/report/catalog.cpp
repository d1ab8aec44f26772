#include "report/catalog.h"

#include "report/csv.h"
#include "report/html_report.h"
#include "report/tables.h"
#include "report/text_file.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace serflash::report {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr std::string_view results_prefix = "Results_";
constexpr std::string_view candidates_suffix = "_candidates.json";
constexpr std::string_view report_suffix = "_report.html";
// The columns before the candidate record's and after it.
constexpr const char* file_column = "file";
constexpr const char* folder_column = "folder";
constexpr const char* time_column = "utc_first_frame";
constexpr const char* report_column = "report";
// How many files of the same camera hold a candidate at the candidate's pixel.
constexpr const char* same_pixel_column = "same_pixel_files";

// The camera a file was taken with, as far as its header tells: a hot pixel stays on its sensor
// from file to file. Empty when the document carries no header.
std::string camera_of(const json& file) {
    if (!file.is_object() || !file.contains("header") || !file["header"].is_object()) return {};
    const json& h = file["header"];
    const auto text = [&](const char* key) { return h.contains(key) ? h[key].dump() : std::string("null"); };
    return text("Instrument") + "|" + text("ImageWidth") + "|" + text("ImageHeight") + "|" + text("ColorID");
}

std::size_t column_index(const std::vector<std::string>& columns, std::string_view name) {
    return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), name) - columns.begin());
}

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// A results folder: named so by the scan, or holding what a scan writes.
bool is_results_folder(const fs::path& dir, std::vector<std::string>& candidate_files) {
    candidate_files.clear();
    bool scan_output = dir.filename().string().rfind(results_prefix, 0) == 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind_ec;
        if (!it->is_regular_file(kind_ec) || it->is_symlink(kind_ec)) continue;
        const std::string name = it->path().filename().string();
        if (ends_with(name, candidates_suffix)) candidate_files.push_back(it->path().string());
        if (ends_with(name, candidates_suffix) || ends_with(name, "_summary.txt")) scan_output = true;
    }
    std::sort(candidate_files.begin(), candidate_files.end());
    return scan_output;
}

class catalog_builder {
public:
    explicit catalog_builder(platform::file_system& files) : files_(files) { cat_.columns = catalog_columns(); }

    void add_root(const std::string& root) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(root, ec);
        if (ec || !fs::is_directory(status)) {
            skip(root, ec || !fs::exists(status) ? "no such folder" : "not a folder");
            return;
        }
        if (visit(root)) return;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            skip(root, "cannot be listed (" + ec.message() + ")");
            return;
        }
        for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
            if (ec) {
                skip(it->path().string(), "cannot be listed (" + ec.message() + ")");
                break;
            }
            std::error_code kind_ec;
            if (it->is_symlink(kind_ec) || !it->is_directory(kind_ec)) continue;
            if (visit(it->path().string())) it.disable_recursion_pending();
        }
    }

    catalog finish() {
        mark_hot_pixels();
        // By the time of the file's first frame, then by file, folder and candidate: the same
        // order however the folders were found.
        std::sort(cat_.rows.begin(), cat_.rows.end(), [](const catalog_row& a, const catalog_row& b) {
            if (a.values[2] != b.values[2]) return a.values[2] < b.values[2];
            return a.values < b.values;
        });
        return std::move(cat_);
    }

private:
    // A point-like candidate at a pixel where another file of the same camera also has one is a
    // hot pixel: a flash or a cosmic ray never comes back to the same pixel of the sensor.
    void mark_hot_pixels() {
        const std::vector<std::string>& columns = cat_.columns;
        const std::size_t cls = column_index(columns, "class"), x = column_index(columns, "x"),
                          y = column_index(columns, "y"), same = column_index(columns, same_pixel_column);
        using place = std::tuple<std::string, json, json>;
        const auto place_of = [&](const catalog_row& row) -> std::optional<place> {
            const std::string& camera = cameras_[row.folder];
            if (camera.empty() || row.values[cls] == "moving" || !row.values[x].is_number_integer() ||
                !row.values[y].is_number_integer())
                return std::nullopt;
            return place{camera, row.values[x], row.values[y]};
        };
        // Files, not folders: a file scanned twice (Results_m1, Results_m1-2) is one file.
        std::map<place, std::set<std::string>> files_at;
        for (const catalog_row& row : cat_.rows)
            if (const auto p = place_of(row)) files_at[*p].insert(file_ids_[row.folder]);
        for (catalog_row& row : cat_.rows) {
            const auto p = place_of(row);
            const std::size_t files = p ? files_at[*p].size() : 1;
            row.values[same] = files;
            if (files >= 2 && (row.values[cls] == "flash" || row.values[cls] == "cosmic_ray"))
                row.values[cls] = "hot_pixel";
        }
    }

    // True when `dir` is a results folder (read, or passed over with the reason).
    bool visit(const std::string& dir) {
        std::vector<std::string> candidate_files;
        if (!is_results_folder(dir, candidate_files)) return false;
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(dir, ec);
        if (!seen_.insert(ec ? dir : canonical.string()).second) return true; // given twice
        if (candidate_files.empty()) {
            skip(dir, "no candidates file");
            return true;
        }
        for (const std::string& path : candidate_files) read_document(dir, path);
        return true;
    }

    void read_document(const std::string& dir, const std::string& path) {
        std::string error;
        const auto text = read_candidates_text(files_, path, error);
        if (!text) {
            skip(path, error.substr(path.size() + 2));
            return;
        }
        json doc;
        try {
            doc = json::parse(*text);
        } catch (const json::exception& e) {
            skip(path, std::string("not readable JSON (") + e.what() + ")");
            return;
        }
        if (!doc.is_object() || doc.value("format", json()) != "serflash-candidates") {
            skip(path, "not a candidates document");
            return;
        }
        const json& version = doc.contains("version") ? doc["version"] : json();
        if (!version.is_number_integer() || version.get<std::int64_t>() < oldest_candidates_version ||
            version.get<std::int64_t>() > newest_candidates_version) {
            skip(path, "unknown version " + (version.is_null() ? std::string("(none)") : version.dump()));
            return;
        }
        if (!doc.contains("candidates") || !doc["candidates"].is_array()) {
            skip(path, "not a candidates document (no list of candidates)");
            return;
        }
        catalog_folder folder;
        folder.path = dir;
        folder.name = fs::path(dir).filename().string();
        folder.version = version.get<int>();
        const std::string doc_name = fs::path(path).filename().string();
        const std::string base = doc_name.substr(0, doc_name.size() - candidates_suffix.size());
        const json& file = doc.contains("file") && doc["file"].is_object() ? doc["file"] : json();
        folder.file = file.is_object() && file.contains("name") && file["name"].is_string()
                          ? file["name"].get<std::string>()
                          : base;
        const std::string report = base + std::string(report_suffix);
        if (files_.exists((fs::path(dir) / report).string())) folder.report = report;
        json first_utc;
        if (doc.contains("times") && doc["times"].is_object() && doc["times"].contains("first_utc"))
            first_utc = doc["times"]["first_utc"];

        const std::size_t index = cat_.folders.size();
        for (const json& candidate : doc["candidates"]) {
            if (!candidate.is_object()) continue;
            catalog_row row;
            row.folder = index;
            row.values.emplace_back(folder.file);
            row.values.emplace_back(folder.name);
            row.values.push_back(first_utc.is_string() ? first_utc : json());
            for (const candidate_column& column : candidate_table()) {
                if (std::string_view(column.name) == file_column) continue;
                const auto it = candidate.find(column.name);
                row.values.push_back(it == candidate.end() ? json() : *it);
            }
            row.values.emplace_back(); // same_pixel_files, once every folder is read
            row.values.push_back(folder.report.empty() ? json() : json(folder.name + "/" + folder.report));
            cat_.rows.push_back(std::move(row));
            ++folder.candidates;
        }
        cat_.folders.push_back(std::move(folder));
        cameras_.push_back(camera_of(file));
        file_ids_.push_back(cat_.folders.back().file + "|" + first_utc.dump());
    }

    void skip(const std::string& path, const std::string& reason) { cat_.skipped.push_back({path, reason}); }

    platform::file_system& files_;
    catalog cat_;
    std::vector<std::string> cameras_;  // of each folder, as camera_of gives it
    std::vector<std::string> file_ids_; // of each folder: the file's name and first frame's time
    std::set<std::string> seen_;
};

// A path as the part of a link: each byte outside the unreserved set and "/" percent-encoded.
std::string href_of(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~' || c == '/') {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string relative_link(const std::string& target, const std::string& page_dir) {
    std::error_code ec;
    const fs::path from = fs::weakly_canonical(fs::absolute(page_dir.empty() ? "." : page_dir, ec), ec);
    const fs::path to = fs::weakly_canonical(fs::absolute(target, ec), ec);
    const fs::path rel = to.lexically_relative(from);
    return href_of((rel.empty() ? to : rel).generic_string());
}

} // namespace

std::string catalog_text(const std::string& column, const json& value) {
    if (const candidate_column* c = find_candidate_column(column); c != nullptr) return c->to_text(value);
    return plain_text(value);
}

std::vector<std::string> catalog_columns() {
    std::vector<std::string> names = {file_column, folder_column, time_column};
    for (const candidate_column& column : candidate_table())
        if (std::string_view(column.name) != file_column) names.emplace_back(column.name);
    names.emplace_back(same_pixel_column);
    names.emplace_back(report_column);
    return names;
}

catalog build_catalog(platform::file_system& fs, const std::vector<std::string>& roots) {
    catalog_builder builder(fs);
    for (const std::string& root : roots) builder.add_root(root);
    return builder.finish();
}

std::string catalog_csv(const catalog& c) {
    std::string out = csv_line(c.columns);
    for (const catalog_row& row : c.rows) {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < c.columns.size() && i < row.values.size(); ++i)
            texts.push_back(catalog_text(c.columns[i], row.values[i]));
        out += csv_line(texts);
    }
    return out;
}

std::string catalog_json(const catalog& c) {
    json rows = json::array();
    for (const catalog_row& row : c.rows) {
        json r = json::object();
        for (std::size_t i = 0; i < c.columns.size() && i < row.values.size(); ++i) r[c.columns[i]] = row.values[i];
        rows.push_back(std::move(r));
    }
    json folders = json::array();
    for (const catalog_folder& f : c.folders)
        folders.push_back({{"path", f.path},
                           {"name", f.name},
                           {"file", f.file},
                           {"version", f.version},
                           {"candidates", f.candidates},
                           {"report", f.report.empty() ? json() : json(f.report)}});
    json skipped = json::array();
    for (const passed_over& p : c.skipped) skipped.push_back({{"path", p.path}, {"reason", p.reason}});
    const json doc{{"format", "serflash-catalog"}, {"version", 1},          {"columns", c.columns}, {"rows", rows},
                   {"folders", folders},           {"passed_over", skipped}};
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string catalog_html(const catalog& c, const std::string& page_dir) {
    std::string s =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Catalogue of flash "
        "candidates</title>\n<style>\nbody { font-family: sans-serif; margin: 1.5em; }\ntable { border-collapse: "
        "collapse; font-size: 0.9em; }\nth, td { border: 1px solid #bbb; padding: 0.2em 0.5em; text-align: left; }\n"
        "th { background: #eee; position: sticky; top: 0; }\ntr:nth-child(even) td { background: #f7f7f7; }\n"
        "</style>\n</head>\n<body>\n<h1>Catalogue of flash candidates</h1>\n";
    s += "<p>" + std::to_string(c.rows.size()) + (c.rows.size() == 1 ? " candidate" : " candidates") + " from " +
         std::to_string(c.folders.size()) + (c.folders.size() == 1 ? " results folder" : " results folders") +
         ".</p>\n";
    std::vector<std::string> links;
    for (const catalog_folder& f : c.folders)
        links.push_back(f.report.empty() ? std::string{}
                                         : relative_link((fs::path(f.path) / f.report).string(), page_dir));
    s += "<h2>Files</h2>\n<table>\n<tr><th>file</th><th>results folder</th><th>candidates</th><th>report</th></tr>\n";
    std::vector<std::size_t> order(c.folders.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(c.folders[a].file, c.folders[a].path) < std::tie(c.folders[b].file, c.folders[b].path);
    });
    for (const std::size_t i : order) {
        const catalog_folder& f = c.folders[i];
        s += "<tr><td>" + html_escape(f.file) + "</td><td>" + html_escape(f.path) + "</td><td>" +
             std::to_string(f.candidates) + "</td><td>" +
             (links[i].empty() ? std::string("none")
                               : "<a href=\"" + html_escape(links[i]) + "\">" + html_escape(f.report) + "</a>") +
             "</td></tr>\n";
    }
    s += "</table>\n<h2>Candidates</h2>\n<table>\n<tr>";
    for (const std::string& column : c.columns) s += "<th>" + html_escape(column) + "</th>";
    s += "</tr>\n";
    for (const catalog_row& row : c.rows) {
        s += "<tr>";
        for (std::size_t i = 0; i < c.columns.size() && i < row.values.size(); ++i) {
            const std::string text = html_escape(catalog_text(c.columns[i], row.values[i]));
            const std::string& link = links[row.folder];
            if ((c.columns[i] == file_column || c.columns[i] == report_column) && !link.empty() && !text.empty())
                s += "<td><a href=\"" + html_escape(link) + "\">" + text + "</a></td>";
            else
                s += "<td>" + text + "</td>";
        }
        s += "</tr>\n";
    }
    s += "</table>\n";
    if (!c.skipped.empty()) {
        s += "<h2>Passed over</h2>\n<ul>\n";
        for (const passed_over& p : c.skipped)
            s += "<li>" + html_escape(p.path) + ": " + html_escape(p.reason) + "</li>\n";
        s += "</ul>\n";
    }
    return s + "</body>\n</html>\n";
}

} // namespace serflash::report
