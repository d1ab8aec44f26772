#include "report/match.h"

#include "report/csv.h"
#include "report/tables.h"
#include "ser/frame_times.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <istream>
#include <map>
#include <queue>
#include <streambuf>
#include <utility>

namespace serflash::report {
namespace {

constexpr double ticks_per_ms = 10'000.0;
// Far more than the candidates of any night; keeps a video given by mistake out of memory.
constexpr std::size_t max_candidates = 10'000'000;
constexpr std::size_t max_field_bytes = std::size_t{1} << 20;
// A frame interval above this is no video of flashes: times that far apart are separate runs.
constexpr double longest_frame_interval = 10.0;

std::string too_many(const std::string& path) {
    return path + ": more than " + std::to_string(max_candidates) +
           " candidates, far more than a station records; not a candidates file?";
}

template <typename T>
bool parse_number(const std::string& s, T& out) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc{} && end == s.data() + s.size();
}

std::string bad_time(const std::string& where, const std::string& text) {
    return where + "utc_peak \"" + text + "\" is not a time such as 2026-12-08T21:14:03.125Z";
}

// One candidate from its fields as the candidates table writes them (a JSON document's values
// are turned into the same texts by the candidate record's columns). `at` gives a field's text,
// `has` whether the record has that column.
template <typename At, typename Has>
bool read_candidate(const At& at, const Has& has, const std::string& where, station_candidate& c, std::string& error) {
    c.file = at("file");
    if (!parse_number(at("peak_frame"), c.peak_frame) || !parse_number(at("x"), c.x) || !parse_number(at("y"), c.y) ||
        (has("candidate") && !parse_number(at("candidate"), c.candidate))) {
        error = where + "a frame, position or candidate number is not a whole number of 32 bits";
        return false;
    }
    if (!at("peak_sigma").empty()) {
        double v = 0.0;
        if (!parse_number(at("peak_sigma"), v) || !std::isfinite(v)) {
            error = where + "peak_sigma \"" + at("peak_sigma") + "\" is not a number";
            return false;
        }
        c.peak_sigma = v;
    }
    if (has("class")) c.cls = at("class");
    c.utc_peak = at("utc_peak");
    if (!c.utc_peak.empty()) {
        c.ticks = parse_utc(c.utc_peak);
        if (!c.ticks) {
            error = bad_time(where, c.utc_peak);
            return false;
        }
    }
    return true;
}

// The columns a candidates table must have to be paired.
constexpr const char* needed_columns[] = {"file", "peak_frame", "x", "y", "utc_peak", "peak_sigma"};

// A time of one frame of one SER file, for the file's frame interval.
struct timed_frame {
    std::int64_t ticks;
    std::int32_t frame;
};

// The frame interval around each time of one file, from runs of times whose frame numbers rise
// with them (two nights of a file of the same name are two runs): a run's span over its frames.
void set_intervals(std::vector<timed_frame> times, std::vector<station_candidate*>& of_file) {
    std::sort(times.begin(), times.end(), [](const timed_frame& p, const timed_frame& q) {
        return p.ticks != q.ticks ? p.ticks < q.ticks : p.frame < q.frame;
    });
    struct run {
        std::int64_t first_ticks, last_ticks;
        double interval;
    };
    std::vector<run> runs;
    std::size_t begin = 0;
    for (std::size_t i = 1; i <= times.size(); ++i) {
        const bool ends =
            i == times.size() || times[i].frame < times[i - 1].frame ||
            (times[i].frame > times[i - 1].frame &&
             static_cast<double>(times[i].ticks - times[i - 1].ticks) / 1e7 / (times[i].frame - times[i - 1].frame) >
                 longest_frame_interval) ||
            (times[i].frame == times[i - 1].frame && times[i].ticks != times[i - 1].ticks);
        if (!ends) continue;
        const timed_frame& lo = times[begin];
        const timed_frame& hi = times[i - 1];
        const double interval =
            hi.frame > lo.frame ? static_cast<double>(hi.ticks - lo.ticks) / 1e7 / (hi.frame - lo.frame) : 0.0;
        runs.push_back({lo.ticks, hi.ticks, std::clamp(interval, 0.0, longest_frame_interval)});
        begin = i;
    }
    for (station_candidate* c : of_file) {
        if (!c->ticks) continue;
        const auto it = std::upper_bound(runs.begin(), runs.end(), *c->ticks,
                                         [](std::int64_t t, const run& r) { return t < r.first_ticks; });
        if (it != runs.begin() && *c->ticks <= std::prev(it)->last_ticks) c->frame_interval = std::prev(it)->interval;
    }
}

// The times of each file's candidates in a table or catalogue, for their frame intervals.
class file_times {
public:
    template <typename At, typename Has>
    void add(const station_candidate& c, const At& at, const Has& has) {
        std::vector<timed_frame>& times = of_file_[c.file];
        if (c.ticks) times.push_back({*c.ticks, c.peak_frame});
        std::int32_t first = 0;
        if (has("utc_start") && has("first_frame") && parse_number(at("first_frame"), first))
            if (const auto t = parse_utc(at("utc_start"))) times.push_back({*t, first});
    }
    // Sets the intervals of candidates [first, end) of the list, and starts again.
    void set(std::vector<station_candidate>& list, std::size_t first) {
        std::map<std::string, std::vector<station_candidate*>> of_file;
        for (std::size_t i = first; i < list.size(); ++i) of_file[list[i].file].push_back(&list[i]);
        for (auto& [file, times] : of_file_) set_intervals(std::move(times), of_file[file]);
        of_file_.clear();
    }
    void clear() { of_file_.clear(); }

private:
    std::map<std::string, std::vector<timed_frame>> of_file_;
};

class csv_station_reader {
public:
    csv_station_reader(std::string path, station& st) : path_(std::move(path)), st_(st) {}

    bool row(const std::vector<std::string>& row, std::string& error) {
        ++line_;
        if (header_.empty()) return take_header(row, error);
        if (row == header_) return true; // tables joined one after another
        if (row.size() == 1 && row[0].empty()) return true;
        const auto where = path_ + ", row " + std::to_string(line_) + ": ";
        if (row.size() != header_.size()) {
            error = where + std::to_string(row.size()) + " fields where the first line has " +
                    std::to_string(header_.size());
            return false;
        }
        if (st_.candidates.size() >= max_candidates) {
            error = too_many(path_);
            return false;
        }
        const auto at = [&](const char* name) -> const std::string& { return row[column_.at(name)]; };
        const auto has = [&](const char* name) { return column_.count(name) > 0; };
        station_candidate c;
        if (!read_candidate(at, has, where, c, error)) return false;
        c.file = csv_text(c.file);
        if (!has("candidate")) c.candidate = static_cast<std::int32_t>(std::min<long>(line_, INT32_MAX));
        times_.add(c, at, has);
        st_.candidates.push_back(std::move(c));
        return true;
    }

    bool finish(std::string& error) {
        if (header_.empty()) {
            error = path_ + ": empty, not a candidates table";
            return false;
        }
        times_.set(st_.candidates, 0);
        return true;
    }

private:
    bool take_header(const std::vector<std::string>& row, std::string& error) {
        header_ = row;
        for (std::size_t i = 0; i < header_.size(); ++i) column_[header_[i]] = i;
        for (const char* needed : needed_columns)
            if (column_.count(needed) == 0) {
                error = path_ + ": not a candidates table (its first line has no column \"" + needed + "\")";
                return false;
            }
        return true;
    }

    std::string path_;
    station& st_;
    std::vector<std::string> header_;
    std::map<std::string, std::size_t> column_;
    file_times times_;
    long line_ = 0;
};

// The candidates of one document or an array of them, or the rows of a catalogue, read event by
// event: only the fields matched on are kept, never the document itself (its light curves can
// be most of its bytes).
class json_station_reader final : public nlohmann::json_sax<nlohmann::json> {
    static constexpr const char* candidates_key = "candidates";
    static constexpr const char* rows_key = "rows";

public:
    json_station_reader(std::string path, station& st) : path_(std::move(path)), st_(st) {}

    bool null() override { return scalar(value{kind::null}); }
    bool boolean(bool) override { return scalar(value{kind::other}); }
    bool number_integer(number_integer_t v) override { return scalar(value{kind::integer, static_cast<double>(v), v}); }
    bool number_unsigned(number_unsigned_t v) override {
        const bool fits = v <= static_cast<number_unsigned_t>(INT64_MAX);
        return scalar(
            value{fits ? kind::integer : kind::real, static_cast<double>(v), fits ? static_cast<std::int64_t>(v) : 0});
    }
    bool number_float(number_float_t v, const string_t&) override { return scalar(value{kind::real, v}); }
    bool string(string_t& v) override { return scalar(value{kind::text, 0.0, 0, &v}); }
    bool binary(binary_t&) override { return scalar(value{kind::other}); }

    bool start_object(std::size_t) override {
        if (stack_.empty()) root_is_array_ = false;
        stack_.push_back({false, std::exchange(key_, {})});
        if (in_document_depth()) begin_document();
        if (in_candidate_depth()) candidate_.clear();
        return true;
    }
    bool key(string_t& k) override {
        key_ = k;
        return true;
    }
    bool end_object() override {
        bool ok = true;
        if (in_candidate_depth()) ok = end_candidate();
        if (in_document_depth()) ok = ok && end_document();
        stack_.pop_back();
        return ok;
    }
    bool start_array(std::size_t) override {
        if (stack_.empty()) root_is_array_ = true;
        stack_.push_back({true, std::exchange(key_, {})});
        if (stack_.size() == document_depth() + 1 && stack_.back().key == candidates_key) candidates_seen_ = true;
        if (stack_.size() == document_depth() + 1 && stack_.back().key == rows_key) rows_seen_ = true;
        return true;
    }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        if (error_.empty()) error_ = path_ + ": not readable JSON (" + e.what() + ")";
        return false;
    }

    bool finish(std::string& error) {
        if (error_.empty() && documents_ == 0) error_ = path_ + ": not a serflash candidates document";
        error = error_;
        return error_.empty();
    }
    const std::string& error() const { return error_; }

private:
    enum class kind { null, integer, real, text, other };
    struct value {
        kind what;
        double number = 0.0;
        std::int64_t integer = 0;
        const std::string* text = nullptr;
    };
    struct level {
        bool array;
        std::string key; // the key this object or array is the value of
    };

    std::size_t document_depth() const { return root_is_array_ ? 2 : 1; }
    bool in_document_depth() const { return stack_.size() == document_depth() && !stack_.back().array; }
    bool in_candidate_depth() const {
        if (stack_.size() != document_depth() + 2 || stack_.back().array || !stack_[stack_.size() - 2].array)
            return false;
        const std::string& list = stack_[stack_.size() - 2].key;
        return list == candidates_key || list == rows_key;
    }
    bool in_rows() const { return stack_[stack_.size() - 2].key == rows_key; }
    std::string where() const {
        return root_is_array_ ? path_ + ", document " + std::to_string(documents_) + ": " : path_ + ": ";
    }

    bool fail(std::string text) {
        error_ = std::move(text);
        return false;
    }

    void begin_document() {
        ++documents_;
        format_.clear();
        frame_rate_.reset();
        candidates_seen_ = false;
        rows_seen_ = false;
        first_of_document_ = st_.candidates.size();
        from_rows_.clear();
    }
    // A candidates document's list is its candidates, a catalogue's its rows: the other is no
    // list of candidates, whichever key comes first.
    bool end_document() {
        const bool catalogue = format_ == "serflash-catalog";
        if (!(format_ == "serflash-candidates" && candidates_seen_) && !(catalogue && rows_seen_))
            return fail(where() + "not a serflash candidates document or catalogue");
        std::size_t kept = first_of_document_;
        for (std::size_t i = first_of_document_; i < st_.candidates.size(); ++i) {
            if (from_rows_[i - first_of_document_] != catalogue) continue;
            if (kept != i) st_.candidates[kept] = std::move(st_.candidates[i]);
            ++kept;
        }
        st_.candidates.resize(kept);
        if (catalogue) {
            times_.set(st_.candidates, first_of_document_); // a catalogue holds many files, no frame rate
            return true;
        }
        times_.clear();
        const double interval =
            frame_rate_ && *frame_rate_ > 0.0 ? std::min(1.0 / *frame_rate_, longest_frame_interval) : 0.0;
        for (std::size_t i = first_of_document_; i < st_.candidates.size(); ++i)
            st_.candidates[i].frame_interval = interval;
        return true;
    }

    bool scalar(const value& v) {
        const std::string k = std::exchange(key_, {});
        if (stack_.empty()) return fail(path_ + ": not a serflash candidates document");
        if (root_is_array_ && stack_.size() == 1) return fail(where() + "not a serflash candidates document");
        if (in_candidate_depth()) return candidate_field(k, v);
        if (in_document_depth() && k == "format") format_ = v.what == kind::text ? *v.text : std::string{};
        if (stack_.size() == document_depth() + 1 && !stack_.back().array && stack_.back().key == "times" &&
            k == "frame_rate" && (v.what == kind::integer || v.what == kind::real))
            frame_rate_ = v.number;
        return true;
    }

    bool candidate_field(const std::string& k, const value& v) {
        if (find_candidate_column(k) == nullptr) return true; // light curves and the like are not kept
        nlohmann::ordered_json& out = candidate_[k];
        switch (v.what) {
            case kind::integer:
                out = v.integer;
                break;
            case kind::real:
                out = v.number;
                break;
            case kind::text:
                out = *v.text;
                break;
            case kind::null:
                out = nullptr;
                break;
            case kind::other:
                out = true;
                break;
        }
        return true;
    }

    // The candidate's values as the columns turn them into the table's texts, read as a table's
    // row is: one rule for both kinds of file.
    bool end_candidate() {
        const std::string where = this->where() + (in_rows() ? "row " : "candidate ") +
                                  std::to_string(st_.candidates.size() - first_of_document_ + 1) + ": ";
        for (const char* needed : needed_columns)
            if (candidate_.count(needed) == 0 || candidate_.count("candidate") == 0)
                return fail(where + "a candidate lacks a field (it needs \"candidate\" and \"" + needed + "\")");
        if (st_.candidates.size() >= max_candidates) return fail(too_many(path_));
        std::map<std::string, std::string> texts;
        const auto has = [&](const char* name) { return candidate_.count(name) > 0; };
        const auto at = [&](const char* name) -> const std::string& {
            auto [it, added] = texts.try_emplace(name);
            if (added && has(name)) it->second = find_candidate_column(name)->to_text(candidate_.at(name));
            return it->second;
        };
        station_candidate c;
        if (!read_candidate(at, has, where, c, error_)) return false;
        if (in_rows()) times_.add(c, at, has);
        from_rows_.push_back(in_rows());
        st_.candidates.push_back(std::move(c));
        return true;
    }

    std::string path_;
    station& st_;
    std::vector<level> stack_;
    std::string key_;
    bool root_is_array_ = false;
    std::size_t documents_ = 0;
    std::string format_;
    std::optional<double> frame_rate_;
    bool candidates_seen_ = false;
    bool rows_seen_ = false;
    std::size_t first_of_document_ = 0;
    std::vector<bool> from_rows_; // per candidate of the document: from a catalogue's rows
    file_times times_;
    std::map<std::string, nlohmann::ordered_json> candidate_; // its fields that match reads
    std::string error_;
};

// The bytes of an input file as a stream, for the JSON parser.
class input_buffer final : public std::streambuf {
public:
    explicit input_buffer(platform::input_file& in) : in_(in) {}

protected:
    int_type underflow() override {
        const std::size_t got = in_.read(buffer_, sizeof buffer_);
        if (got == 0) return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(buffer_[0]);
    }

private:
    platform::input_file& in_;
    char buffer_[65536];
};

std::string ms_text(double v) { return fixed_decimals(v, 1); }

} // namespace

void keep_flashes(station& s) {
    std::erase_if(s.candidates, [](const station_candidate& c) { return !c.cls.empty() && c.cls != "flash"; });
}

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
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    constexpr int days_in[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > days_in[mo - 1] + (mo == 2 && leap ? 1 : 0) || h > 23 || mi > 59 ||
        s > 60)
        return std::nullopt;
    return ser::ticks_of(y, mo, d, h, mi, s) + std::int64_t{ms} * 10'000;
}

std::optional<station> read_station(platform::file_system& fs, const std::string& path, std::string& error) {
    auto opened = fs.open_read(path);
    if (!opened) {
        error = path + ": cannot be opened (" + opened.reason() + ")";
        return std::nullopt;
    }
    platform::input_file& in = *opened.value();
    station st;
    st.path = path;
    // The first piece tells a JSON document from a table; both are read piece by piece.
    std::vector<char> piece(65536);
    std::size_t got = in.read(piece.data(), piece.size());
    std::size_t first = 0;
    for (; got > 0; got = in.read(piece.data(), piece.size())) {
        const std::string_view text(piece.data(), got);
        first = text.find_first_not_of(" \t\r\n");
        if (first != std::string_view::npos) break;
    }
    const auto read_failed = [&] {
        if (const auto failed = in.first_failed_read()) {
            error = path + ": cannot be read (" + failed->reason + ")";
            return true;
        }
        return false;
    };
    if (got == 0) {
        if (!read_failed()) error = path + ": empty, not a candidates file";
        return std::nullopt;
    }
    if (piece[first] == '{' || piece[first] == '[') {
        in.seek(0);
        input_buffer buffer(in);
        std::istream stream(&buffer);
        json_station_reader reader(path, st);
        nlohmann::json::sax_parse(stream, &reader);
        if (read_failed() || !reader.finish(error)) return std::nullopt;
        return st;
    }
    csv_reader table;
    csv_station_reader reader(path, st);
    std::vector<std::vector<std::string>> rows;
    const auto take = [&](bool last) {
        if (last && !table.finish(rows, &error)) {
            error = path + ": not a readable CSV table: " + error;
            return false;
        }
        for (const auto& row : rows)
            if (!reader.row(row, error)) return false;
        rows.clear();
        return true;
    };
    for (; got > 0; got = in.read(piece.data(), piece.size())) {
        table.feed(std::string_view(piece.data(), got), rows);
        if (table.open_field_bytes() > max_field_bytes) {
            error = path + ": a field longer than " + std::to_string(max_field_bytes >> 20) +
                    " MiB, not a candidates table";
            return std::nullopt;
        }
        if (!take(false)) return std::nullopt;
    }
    if (read_failed() || !take(true) || !reader.finish(error)) return std::nullopt;
    return st;
}

namespace {

// The indices of a sorted list still free, each side of a place, in near constant time: the
// next free one at or after (before) i, its links shortened as they are followed.
class free_places {
public:
    explicit free_places(std::size_t n) : right_(n + 1), left_(n + 1) {
        for (std::size_t i = 0; i <= n; ++i) right_[i] = left_[i] = i;
    }
    void take(std::size_t i) {
        right_[i] = i + 1;
        left_[i + 1] = i; // left_ is kept shifted by one: left_[k] answers for places before k
    }
    // The first free place >= i (n when none).
    std::size_t at_or_after(std::size_t i) { return find(right_, i); }
    // One past the last free place < i (0 when none).
    std::size_t before(std::size_t i) { return find(left_, i); }

private:
    static std::size_t find(std::vector<std::size_t>& link, std::size_t i) {
        std::size_t root = i;
        while (link[root] != root) root = link[root];
        while (link[i] != root) i = std::exchange(link[i], root);
        return root;
    }
    std::vector<std::size_t> right_, left_;
};

} // namespace

match_result match_stations(const station& a, const station& b, double window_ms) {
    // Closest first, one to one: every candidate of A offers its nearest free candidate of B
    // within reach; the closest offer is taken, and an offer whose B was taken meanwhile is
    // renewed with the next free one further out. Both lists sorted by time, so the work is
    // O((A + B) log(A + B)) whatever the times.
    match_result m;
    std::vector<std::size_t> order_b;
    for (std::size_t j = 0; j < b.candidates.size(); ++j)
        if (b.candidates[j].ticks) order_b.push_back(j);
    std::sort(order_b.begin(), order_b.end(), [&](std::size_t p, std::size_t q) {
        const std::int64_t tp = *b.candidates[p].ticks, tq = *b.candidates[q].ticks;
        return tp != tq ? tp < tq : p < q;
    });
    std::vector<std::int64_t> ticks_b(order_b.size());
    double widest_b = 0.0;
    for (std::size_t k = 0; k < order_b.size(); ++k) {
        ticks_b[k] = *b.candidates[order_b[k]].ticks;
        widest_b = std::max(widest_b, b.candidates[order_b[k]].frame_interval);
    }
    free_places free_b(order_b.size());

    struct offer {
        std::int64_t distance;   // ticks
        std::size_t a, b;        // a's index, b's place in order_b
        std::size_t left, right; // the places a's next offers start from
        bool operator>(const offer& o) const {
            if (distance != o.distance) return distance > o.distance;
            if (a != o.a) return a > o.a;
            return b > o.b;
        }
    };
    const auto allowed_ms = [&](const station_candidate& ca, const station_candidate& cb) {
        return window_ms + 500.0 * (ca.frame_interval + cb.frame_interval);
    };
    const auto reach_ticks = [&](const station_candidate& ca) {
        const double reach = std::ceil((allowed_ms(ca, station_candidate{}) + 500.0 * widest_b) * ticks_per_ms);
        return reach < 4e18 ? static_cast<std::int64_t>(reach) : std::int64_t{4'000'000'000'000'000'000};
    };
    // a's nearest free B within reach, searching outwards from left (exclusive) and right.
    const auto next_offer = [&](std::size_t i, std::size_t left, std::size_t right) -> std::optional<offer> {
        const station_candidate& ca = a.candidates[i];
        const std::int64_t t = *ca.ticks;
        const std::int64_t reach = reach_ticks(ca);
        for (;;) {
            right = free_b.at_or_after(right);
            left = free_b.before(left);
            const bool has_right = right < order_b.size() && ticks_b[right] - t <= reach;
            const bool has_left = left > 0 && t - ticks_b[left - 1] <= reach;
            if (!has_right && !has_left) return std::nullopt;
            const std::int64_t dr = has_right ? ticks_b[right] - t : INT64_MAX;
            const std::int64_t dl = has_left ? t - ticks_b[left - 1] : INT64_MAX;
            const bool take_right = dr < dl || (dr == dl && order_b[right] < order_b[left - 1]);
            const std::size_t place = take_right ? right : left - 1;
            const station_candidate& cb = b.candidates[order_b[place]];
            const double diff = static_cast<double>(*cb.ticks - t) / ticks_per_ms;
            if (std::abs(diff) <= allowed_ms(ca, cb)) return offer{take_right ? dr : dl, i, place, left, right};
            // Out of this pair's reach (a shorter frame interval): look further out.
            if (take_right)
                ++right;
            else
                --left;
        }
    };
    std::priority_queue<offer, std::vector<offer>, std::greater<>> offers;
    for (std::size_t i = 0; i < a.candidates.size(); ++i) {
        if (!a.candidates[i].ticks) continue;
        const std::size_t place = static_cast<std::size_t>(
            std::lower_bound(ticks_b.begin(), ticks_b.end(), *a.candidates[i].ticks) - ticks_b.begin());
        if (const auto o = next_offer(i, place, place)) offers.push(*o);
    }
    std::vector<char> used_a(a.candidates.size(), 0), used_b(b.candidates.size(), 0);
    while (!offers.empty()) {
        const offer o = offers.top();
        offers.pop();
        const std::size_t j = order_b[o.b];
        if (used_b[j] != 0) {
            if (const auto renewed = next_offer(o.a, o.left, o.right)) offers.push(*renewed);
            continue;
        }
        used_a[o.a] = used_b[j] = 1;
        free_b.take(o.b);
        const station_candidate& ca = a.candidates[o.a];
        const station_candidate& cb = b.candidates[j];
        m.pairs.push_back({o.a, j, static_cast<double>(*cb.ticks - *ca.ticks) / ticks_per_ms, allowed_ms(ca, cb)});
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
