#include "report/match.h"

#include "report/catalog.h"
#include "report/csv.h"
#include "report/tables.h"
#include "report/text_file.h"
#include "ser/frame_times.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace serflash::report {
namespace {

constexpr double ticks_per_ms = 10'000.0;
template <typename T>
bool parse_number(const std::string& s, T& out) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc{} && end == s.data() + s.size();
}

// One candidate from its fields as the candidates table writes them (a JSON document's values
// are turned into the same texts by the candidate record's columns). `at` gives a field's text,
// `has` whether the record has that column.
template <typename At, typename Has>
bool read_candidate(const At& at, const Has& has, const std::string& where, station_candidate& c, std::string& error) {
    c.file = at("file");
    if (!parse_number(at("peak_frame"), c.peak_frame) || !parse_number(at("x"), c.x) || !parse_number(at("y"), c.y) ||
        (has("candidate") && !parse_number(at("candidate"), c.candidate))) {
        error = where + "a frame, position or candidate number is not a whole number";
        return false;
    }
    if (!at("peak_sigma").empty()) {
        double v = 0.0;
        if (!parse_number(at("peak_sigma"), v)) {
            error = where + "peak_sigma \"" + at("peak_sigma") + "\" is not a number";
            return false;
        }
        c.peak_sigma = v;
    }
    c.utc_peak = at("utc_peak");
    if (!c.utc_peak.empty()) {
        c.ticks = parse_utc(c.utc_peak);
        if (!c.ticks) {
            error = where + "utc_peak \"" + c.utc_peak + "\" is not a time such as 2026-12-08T21:14:03.125Z";
            return false;
        }
    }
    return true;
}

// The columns a candidates table must have to be paired.
constexpr const char* needed_columns[] = {"file", "peak_frame", "x", "y", "utc_peak", "peak_sigma"};

// A table of texts whose first row names the columns: a candidates table, or a catalogue.
std::optional<station> read_table_station(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                                          std::string& error) {
    if (rows.empty()) {
        error = path + ": empty, not a candidates table";
        return std::nullopt;
    }
    const std::vector<std::string>& header = rows.front();
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < header.size(); ++i) column[header[i]] = i;
    for (const char* needed : needed_columns)
        if (column.count(needed) == 0) {
            error = path + ": not a candidates table (its first line has no column \"" + needed + "\")";
            return std::nullopt;
        }
    const auto has = [&](const char* name) { return column.count(name) > 0; };
    station st;
    st.path = path;
    struct timed {
        std::int32_t frame;
        std::int64_t ticks;
    };
    std::map<std::string, std::vector<timed>> times_of_file;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string>& row = rows[r];
        if (row == header) continue; // tables joined one after another
        if (row.size() == 1 && row[0].empty()) continue;
        const auto where = path + ", row " + std::to_string(r + 1) + ": ";
        if (row.size() != header.size()) {
            error = where + std::to_string(row.size()) + " fields where the first line has " +
                    std::to_string(header.size());
            return std::nullopt;
        }
        const auto at = [&](const char* name) -> const std::string& { return row[column.at(name)]; };
        station_candidate c;
        if (!read_candidate(at, has, where, c, error)) return std::nullopt;
        if (!has("candidate")) c.candidate = static_cast<std::int32_t>(r);
        if (c.ticks) times_of_file[c.file].push_back({c.peak_frame, *c.ticks});
        std::int32_t first = 0;
        if (has("utc_start") && has("first_frame") && parse_number(at("first_frame"), first))
            if (const auto t = parse_utc(at("utc_start"))) times_of_file[c.file].push_back({first, *t});
        st.candidates.push_back(std::move(c));
    }
    // The frame interval of each file from the times it lists: the span between its earliest and
    // latest timed frames over the frames between them.
    std::map<std::string, double> interval_of;
    for (auto& [file, times] : times_of_file) {
        const auto [lo, hi] = std::minmax_element(times.begin(), times.end(),
                                                  [](const timed& p, const timed& q) { return p.frame < q.frame; });
        if (hi->frame > lo->frame)
            interval_of[file] = static_cast<double>(hi->ticks - lo->ticks) / 1e7 / (hi->frame - lo->frame);
    }
    for (station_candidate& c : st.candidates)
        if (const auto it = interval_of.find(c.file); it != interval_of.end())
            c.frame_interval = std::max(0.0, it->second);
    return st;
}

std::optional<station> read_csv_station(const std::string& path, const std::string& text, std::string& error) {
    std::string why;
    const auto rows = parse_csv(text, &why);
    if (!rows) {
        error = path + ": not a readable CSV table: " + why;
        return std::nullopt;
    }
    return read_table_station(path, *rows, error);
}

// A catalogue document: its rows as the texts of its CSV table.
std::optional<station> read_catalog_station(const std::string& path, const nlohmann::ordered_json& doc,
                                            std::string& error) {
    if (!doc.contains("columns") || !doc["columns"].is_array() || !doc.contains("rows") || !doc["rows"].is_array()) {
        error = path + ": not a serflash catalogue (no columns or rows)";
        return std::nullopt;
    }
    std::vector<std::vector<std::string>> rows(1);
    for (const auto& column : doc["columns"]) {
        if (!column.is_string()) {
            error = path + ": not a serflash catalogue (a column name is not a text)";
            return std::nullopt;
        }
        rows[0].push_back(column.get<std::string>());
    }
    for (const auto& row : doc["rows"]) {
        if (!row.is_object()) {
            error = path + ": a row of the catalogue is not an object";
            return std::nullopt;
        }
        std::vector<std::string>& texts = rows.emplace_back();
        for (const std::string& column : rows[0]) {
            const auto it = row.find(column);
            texts.push_back(it == row.end() ? std::string{} : catalog_text(column, *it));
        }
    }
    return read_table_station(path, rows, error);
}

bool read_json_document(const nlohmann::ordered_json& doc, station& st, const std::string& where, std::string& error) {
    if (!doc.is_object() || doc.value("format", "") != "serflash-candidates" || !doc.contains("candidates") ||
        !doc["candidates"].is_array()) {
        error = where + "not a serflash candidates document";
        return false;
    }
    double interval = 0.0;
    if (doc.contains("times") && doc["times"].is_object()) {
        const auto& rate = doc["times"]["frame_rate"];
        if (rate.is_number() && rate.get<double>() > 0.0) interval = 1.0 / rate.get<double>();
    }
    for (const auto& j : doc["candidates"]) {
        if (!j.is_object()) {
            error = where + "a candidate is not an object";
            return false;
        }
        for (const char* needed : needed_columns)
            if (!j.contains(needed) || !j.contains("candidate")) {
                error = where + "a candidate lacks a field (it needs \"candidate\" and \"" + needed + "\")";
                return false;
            }
        const auto has = [&](const char* name) { return j.contains(name) && find_candidate_column(name) != nullptr; };
        std::map<std::string, std::string> texts;
        const auto at = [&](const char* name) -> const std::string& {
            auto [it, added] = texts.try_emplace(name);
            if (added && has(name)) it->second = find_candidate_column(name)->to_text(j.at(name));
            return it->second;
        };
        station_candidate c;
        if (!read_candidate(at, has, where, c, error)) return false;
        c.frame_interval = interval;
        st.candidates.push_back(std::move(c));
    }
    return true;
}

std::optional<station> read_json_station(const std::string& path, const std::string& text, std::string& error) {
    nlohmann::ordered_json doc;
    try {
        doc = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        error = path + ": not readable JSON (" + e.what() + ")";
        return std::nullopt;
    }
    if (doc.is_object() && doc.value("format", "") == "serflash-catalog") return read_catalog_station(path, doc, error);
    station st;
    st.path = path;
    if (doc.is_array()) {
        for (std::size_t i = 0; i < doc.size(); ++i)
            if (!read_json_document(doc[i], st, path + ", document " + std::to_string(i + 1) + ": ", error))
                return std::nullopt;
    } else if (!read_json_document(doc, st, path + ": ", error)) {
        return std::nullopt;
    }
    return st;
}

std::string ms_text(double v) { return fixed_decimals(v, 1); }

} // namespace

std::optional<std::int64_t> parse_utc(const std::string& text) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ, the milliseconds optional.
    if (text.size() < 20 || text.back() != 'Z') return std::nullopt;
    const auto digits = [&](std::size_t at, std::size_t n, int& out) {
        if (at + n > text.size()) return false;
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (!digits(0, 4, y) || text[4] != '-' || !digits(5, 2, mo) || text[7] != '-' || !digits(8, 2, d) ||
        text[10] != 'T' || !digits(11, 2, h) || text[13] != ':' || !digits(14, 2, mi) || text[16] != ':' ||
        !digits(17, 2, s))
        return std::nullopt;
    if (text.size() == 24) {
        if (text[19] != '.' || !digits(20, 3, ms)) return std::nullopt;
    } else if (text.size() != 20) {
        return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    return ser::ticks_of(y, mo, d, h, mi, s) + std::int64_t{ms} * 10'000;
}

std::optional<station> read_station(platform::file_system& fs, const std::string& path, std::string& error) {
    const auto text = read_candidates_text(fs, path, error);
    if (!text) return std::nullopt;
    const std::size_t first = text->find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        error = path + ": empty, not a candidates file";
        return std::nullopt;
    }
    if ((*text)[first] == '{' || (*text)[first] == '[') return read_json_station(path, *text, error);
    return read_csv_station(path, *text, error);
}

match_result match_stations(const station& a, const station& b, double window_ms) {
    match_result m;
    std::vector<candidate_pair> options;
    for (std::size_t i = 0; i < a.candidates.size(); ++i) {
        const station_candidate& ca = a.candidates[i];
        if (!ca.ticks) continue;
        for (std::size_t j = 0; j < b.candidates.size(); ++j) {
            const station_candidate& cb = b.candidates[j];
            if (!cb.ticks) continue;
            const double diff = static_cast<double>(*cb.ticks - *ca.ticks) / ticks_per_ms;
            const double allowed = window_ms + 500.0 * (ca.frame_interval + cb.frame_interval);
            if (std::abs(diff) <= allowed) options.push_back({i, j, diff, allowed});
        }
    }
    std::stable_sort(options.begin(), options.end(), [](const candidate_pair& p, const candidate_pair& q) {
        return std::abs(p.difference_ms) < std::abs(q.difference_ms);
    });
    std::vector<char> used_a(a.candidates.size(), 0), used_b(b.candidates.size(), 0);
    for (const candidate_pair& p : options) {
        if (used_a[p.a] != 0 || used_b[p.b] != 0) continue;
        used_a[p.a] = used_b[p.b] = 1;
        m.pairs.push_back(p);
    }
    std::sort(m.pairs.begin(), m.pairs.end(), [&](const candidate_pair& p, const candidate_pair& q) {
        if (*a.candidates[p.a].ticks != *a.candidates[q.a].ticks)
            return *a.candidates[p.a].ticks < *a.candidates[q.a].ticks;
        return p.a < q.a;
    });
    for (std::size_t i = 0; i < a.candidates.size(); ++i)
        (a.candidates[i].ticks ? (used_a[i] != 0 ? void() : m.unpaired_a.push_back(i)) : m.untimed_a.push_back(i));
    for (std::size_t j = 0; j < b.candidates.size(); ++j)
        (b.candidates[j].ticks ? (used_b[j] != 0 ? void() : m.unpaired_b.push_back(j)) : m.untimed_b.push_back(j));
    return m;
}

std::string pairs_csv(const station& a, const station& b, const match_result& m) {
    std::string out =
        csv_line({"pair", "utc_a", "utc_b", "difference_ms", "allowed_ms", "file_a", "candidate_a", "frame_a", "x_a",
                  "y_a", "peak_sigma_a", "file_b", "candidate_b", "frame_b", "x_b", "y_b", "peak_sigma_b"});
    int n = 0;
    for (const candidate_pair& p : m.pairs) {
        const station_candidate& ca = a.candidates[p.a];
        const station_candidate& cb = b.candidates[p.b];
        const auto sigma = [](const std::optional<double>& s) { return s ? fixed_decimals(*s, 2) : std::string{}; };
        out +=
            csv_line({std::to_string(++n), ca.utc_peak, cb.utc_peak, ms_text(p.difference_ms), ms_text(p.allowed_ms),
                      ca.file, std::to_string(ca.candidate), std::to_string(ca.peak_frame), std::to_string(ca.x),
                      std::to_string(ca.y), sigma(ca.peak_sigma), cb.file, std::to_string(cb.candidate),
                      std::to_string(cb.peak_frame), std::to_string(cb.x), std::to_string(cb.y), sigma(cb.peak_sigma)});
    }
    return out;
}

} // namespace serflash::report
