#pragma once
// One table of the candidates of many results folders: a night, or an archive, scanned in one
// run or file by file on several machines. The rows are those of the candidates documents in
// the folders, in an order that does not depend on where or how the folders were made.
#include "platform/file_io.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace serflash::report {

// Versions of the candidates document the catalogue reads.
inline constexpr int oldest_candidates_version = 1;
inline constexpr int newest_candidates_version = 2;

struct catalog_folder {
    std::string path;   // as found under the folder given
    std::string name;   // its last part, "Results_m1_s45_1199"
    std::string file;   // the SER file's name
    std::string report; // the file's report page, a path like `path`; empty when there is none
    int version = 0;
    std::size_t candidates = 0;
};

struct passed_over {
    std::string path;
    std::string reason; // "no candidates file", "not readable JSON (...)", "unknown version 7"
};

// One candidate: the values of the catalogue's columns, as JSON (null when absent).
struct catalog_row {
    std::vector<nlohmann::ordered_json> values;
    std::size_t folder = 0; // index into catalog::folders
};

struct catalog {
    std::vector<std::string> columns;
    std::vector<catalog_row> rows;
    std::vector<catalog_folder> folders;
    std::vector<passed_over> skipped;
};

// The catalogue's columns: the file, its results folder and the UTC time of its first frame,
// then every column of the candidate record, then how many files of the same camera (the
// header's instrument, size and colour) hold a candidate at the candidate's pixel, then the report
// page's path within the folder. A flash or cosmic ray at a pixel found in two files or more is a
// hot pixel in the catalogue, whatever each file alone could tell.
std::vector<std::string> catalog_columns();

// The text of a value in a column, as the CSV table has it (the candidate record's own rule for
// its columns).
std::string catalog_text(const std::string& column, const nlohmann::ordered_json& value);

// Finds every results folder under the given folders (the folders themselves included; links
// are not followed and results folders are not searched further) and reads its candidates.
catalog build_catalog(platform::file_system& fs, const std::vector<std::string>& roots);

// The catalogue as a CSV table, a JSON document (`rows` only depend on the folders' contents)
// and an HTML page whose links to the report pages are relative to `page_dir`.
std::string catalog_csv(const catalog& c);
std::string catalog_json(const catalog& c);
std::string catalog_html(const catalog& c, const std::string& page_dir);

} // namespace serflash::report
