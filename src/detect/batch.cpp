#include "detect/batch.h"

#include "detect/batch_progress.h"
#include "detect/format.h"
#include "detect/passes.h"
#include "detect/summary_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace serflash::detect {
namespace {

constexpr std::size_t max_folder_name = 99;
constexpr std::string_view folder_prefix = "Results_";

local_time wall_clock() {
    local_time t;
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    ::localtime_r(&ts.tv_sec, &tm);
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
}

std::string join_path(const std::string& parent, const std::string& name) {
    if (parent.empty() || parent == ".") return name;
    if (parent.back() == '/') return parent + name;
    return parent + "/" + name;
}

std::string depth_problem(std::int32_t depth) {
    return format_bounded(256, "its sample depth is %d bits; only 8 and 16 bits can be scanned", depth);
}

} // namespace

std::string base_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // What follows the last dot is an extension only when it holds no space: "clip.v2 final"
    // keeps its whole name.
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && name.find(' ', dot) == std::string::npos) name.erase(dot);
    return name;
}

std::string results_folder_name(const std::string& base_name, const std::string& suffix) {
    return std::string(folder_prefix) + cut_utf8(base_name, max_folder_name - folder_prefix.size() - suffix.size()) +
           suffix;
}

platform::result<std::string> claim_results_folder(platform::file_system& fs, const std::string& parent,
                                                   const std::string& base_name) {
    // This run's own mkdir is the claim: a folder that is already there, even an empty one, may
    // have just been made by another scan that has not yet written into it.
    constexpr int last_tried = 9999;
    for (int n = 1; n <= last_tried; ++n) {
        const std::string dir =
            join_path(parent, results_folder_name(base_name, n == 1 ? std::string{} : "-" + std::to_string(n)));
        const platform::status made = fs.make_dir(dir);
        if (made) return dir;
        if (fs.kind_of(dir) == platform::entry_kind::missing)
            return platform::status::failure("its results folder " + dir + " cannot be created (" + made.reason() +
                                             ")");
    }
    return platform::status::failure(format_bounded(
        512, "its results folders %s to %s-%d are all taken", join_path(parent, results_folder_name(base_name)).c_str(),
        join_path(parent, results_folder_name(base_name, "-" + std::to_string(last_tried))).c_str(), last_tried));
}

std::string file_report::examined_text() const {
    // A pass that went to the end leaves cur_frame one past the stop frame.
    std::int32_t last = -1, first = 0;
    for (const pass_report& p : passes) {
        first = p.first_frame;
        last = std::max(last, std::min(p.frame_reached, end_frame));
    }
    if (last < first) return "no frame examined";
    if (last == first) return format_bounded(64, "frame %d examined", first);
    return format_bounded(96, "frames %d to %d examined", first, last);
}

std::string batch_report::times_message() const {
    return format_bounded(256, "Month_Day %02d_%02d  %02dh%02dm%02ds\n", start.month, start.day, start.hour,
                          start.minute, start.second) +
           format_bounded(256, "Month_Day %02d_%02d  %02dh%02dm%02ds", end.month, end.day, end.hour, end.minute,
                          end.second);
}

engine_message batch_report::closing_message() const {
    if (stopped)
        return engine_message::closing(
            caption_id::stopped,
            "The batch was stopped; the files after the current one were not scanned.\n" + times_message());
    return engine_message::closing(caption_id::completed, times_message());
}

bool batch_report::all_scanned() const {
    if (empty_table || stopped) return false;
    for (const auto& f : files)
        if (f.outcome != file_outcome::scanned) return false;
    return true;
}

file_report scan_file(const scan_job& given, const scan_environment& env, const engine_hooks& batch_hooks) {
    scan_job job = given;
    // Every message of this file names its row.
    engine_hooks hooks = batch_hooks;
    hooks.message = [&batch_hooks, row = env.file_index](const engine_message& m) {
        engine_message named = m;
        named.file = row;
        batch_hooks.say(named);
    };
    platform::file_system& fs = env.fs != nullptr ? *env.fs : platform::native_file_system();
    const std::string& path = job.path;
    file_report report;
    report.path = path;
    const auto refuse = [&](file_outcome outcome, const std::string& problem, bool tell) {
        report.outcome = outcome;
        report.problems = {problem};
        if (tell)
            hooks.say(engine_message::failure(caption_id::batch, "Error: " + path + " is skipped: " + problem + ".",
                                              problem));
    };

    const std::string base = base_name_of(path);
    if (job.settings.snapshots == snapshot_format::png && !env.png_encoder) {
        refuse(file_outcome::failed, "PNG snapshots cannot be written by this program", true);
        return report;
    }
    const std::string first_choice = join_path(env.results_parent, results_folder_name(base));
    report.result_dir = first_choice;

    // A file that cannot be opened gets no results folder; any other file does, even when it
    // is then skipped.
    auto input = fs.open_read(path);
    if (!input) {
        refuse(file_outcome::failed, "it cannot be opened (" + input.reason() + ")", true);
        return report;
    }
    if (const std::int64_t size = input.value()->size(); size >= 0 && size < ser::header_size) {
        refuse(file_outcome::failed,
               size == 0 ? std::string("the file is empty")
                         : format_bounded(256, "the file holds only %lld bytes, fewer than the %lld of a SER header",
                                          static_cast<long long>(size), static_cast<long long>(ser::header_size)),
               true);
        return report;
    }
    auto claimed = claim_results_folder(fs, env.results_parent, base);
    if (!claimed) {
        refuse(file_outcome::failed, claimed.reason(), true);
        return report;
    }
    const std::string result_dir = claimed.value();
    report.result_dir = result_dir;
    if (result_dir != first_choice) report.folder_taken = first_choice;
    const std::string summary_path =
        format_bounded(result_dir.size() + base.size() + 16, "%s/%s_summary.txt", result_dir.c_str(),
                       cut_utf8(base, max_folder_name - folder_prefix.size()).c_str());

    ser::ser_reader reader(std::move(input.value()));
    job.prepare(reader);
    if (reader.depth() != 8 && reader.depth() != 16) {
        // Skipped without a message box, as the desktop program does; the report says why.
        refuse(file_outcome::skipped_depth, depth_problem(reader.depth()), false);
        return report;
    }
    if (const platform::status geometry = reader.check_geometry(); !geometry) {
        refuse(file_outcome::failed, geometry.reason(), true);
        return report;
    }
    if (reader.frames_present() == 0) {
        refuse(
            file_outcome::failed,
            format_bounded(256, "the file holds no whole frame (%lld bytes after the header, a frame takes %lld)",
                           static_cast<long long>(reader.data_bytes()), static_cast<long long>(reader.frame_bytes())),
            true);
        return report;
    }
    if (env.complete_job) env.complete_job(job, reader);
    report.byte_order_warning = ser::byte_order_warning(reader);

    if (const platform::status runnable =
            scan_refusal(job.settings, reader.frames_present(), highest_sample_of_depth(reader.depth()));
        !runnable) {
        refuse(file_outcome::failed, runnable.reason(), true);
        return report;
    }

    auto opened = summary_file::open(fs, summary_path, platform::write_mode::truncate);
    if (!opened) {
        refuse(file_outcome::failed,
               "its summary file " + summary_path + " cannot be created (" + opened.reason() + ")", true);
        return report;
    }
    const std::unique_ptr<summary_file> header = std::move(opened.value());
    write_summary_header(*header, reader.header_text(), job.settings, job.switches, job.swap_bytes);
    if (!header->close()) {
        refuse(file_outcome::failed, "its summary file " + summary_path + " cannot be written", true);
        return report;
    }

    scan_context ctx;
    ctx.reader = &reader;
    ctx.settings = job.settings;
    ctx.switches = job.switches;
    ctx.cores = env.cores;
    ctx.fs = &fs;
    ctx.result_dir = result_dir;
    ctx.summary_path = summary_path;
    ctx.hooks = hooks;
    ctx.png_encoder = env.png_encoder;
    ctx.file_index = env.file_index;
    ctx.file_count = env.file_count;
    std::vector<std::unique_ptr<result_sink>> extra;
    if (env.sinks) extra = env.sinks(job, result_dir, reader, env.cores);
    for (const auto& sink : extra) ctx.sinks.push_back(sink.get());

    static_cast<scan_outcome&>(report) = env.scanner ? env.scanner(ctx) : run_scan(ctx);
    if (report.result_dir.empty()) report.result_dir = result_dir;
    report.end_frame = job.settings.end_frame;
    if (report.failed)
        report.outcome = file_outcome::failed;
    else if (report.stopped)
        report.outcome = file_outcome::stopped;
    else if (!report.no_pass.empty())
        report.outcome = file_outcome::failed;
    else
        report.outcome = file_outcome::scanned;
    return report;
}

namespace {

scan_environment environment_of(const batch_request& request, int i, core_budget share) {
    scan_environment env;
    static_cast<scan_tools&>(env) = request;
    env.cores = share;
    env.file_index = i;
    env.file_count = static_cast<int>(request.jobs.size());
    return env;
}

void scan_one_file(const batch_request& request, core_budget share, const engine_hooks& hooks, int i,
                   file_report& report) {
    report = scan_file(request.jobs[static_cast<std::size_t>(i)], environment_of(request, i, share), hooks);
}

// What a file scanned on a worker thread tells the caller's thread.
struct batch_event {
    enum class kind { message, progress, threshold, frame, done } what = kind::message;
    int file = 0;
    engine_message message;
    scan_progress progress;
    std::int32_t value = 0;
};

// Events posted by the workers, taken in bulk by the caller's thread.
class event_queue {
public:
    void post(batch_event e) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(std::move(e));
        }
        wake_.notify_one();
    }
    // What has arrived, waiting a little when nothing has.
    std::deque<batch_event> take() {
        std::deque<batch_event> got;
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(50), [&] { return !events_.empty(); });
        got.swap(events_);
        return got;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<batch_event> events_;
};

// Files whose results folders can be the same form one chain, scanned in table order by one thread,
// so that their folders are made and renamed in the order a one-by-one batch would.
std::vector<std::vector<int>> chains_by_results_folder(const std::vector<scan_job>& jobs) {
    std::map<std::string, std::size_t> chain_of_folder;
    std::vector<std::vector<int>> chains;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        // a.ser may fall back to Results_a-2, the first choice of a-2.ser: both go in one chain, so
        // that the folders are handed out in table order at every --jobs.
        std::string base = base_name_of(jobs[i].path);
        if (const std::size_t dash = base.find_last_of('-');
            dash != std::string::npos && dash + 1 < base.size() &&
            base.find_first_not_of("0123456789", dash + 1) == std::string::npos)
            base.erase(dash);
        const std::string folder = results_folder_name(base);
        const auto [it, added] = chain_of_folder.emplace(folder, chains.size());
        if (added) chains.emplace_back();
        chains[it->second].push_back(static_cast<int>(i));
    }
    return chains;
}

// Hooks of file i on a worker thread: everything goes through the queue.
engine_hooks posting_hooks(event_queue& queue, const std::atomic<bool>& stop, int i) {
    engine_hooks local;
    local.message = [&queue, i](const engine_message& m) { queue.post({batch_event::kind::message, i, m, {}, 0}); };
    local.progress = [&queue, i](const scan_progress& p) { queue.post({batch_event::kind::progress, i, {}, p, 0}); };
    local.threshold_shown = [&queue, i](std::int32_t t) { queue.post({batch_event::kind::threshold, i, {}, {}, t}); };
    local.frame_shown = [&queue, i](std::int32_t f) { queue.post({batch_event::kind::frame, i, {}, {}, f}); };
    local.stop_requested = [&stop] { return stop.load(); };
    return local;
}

// Hands the workers' events to the caller's hooks: progress as it comes, row marks and
// messages file by file in table order.
class in_order_delivery {
public:
    in_order_delivery(const engine_hooks& hooks, const batch_report& report, std::function<void(int)> file_done)
        : hooks_(hooks),
          report_(report),
          file_done_(std::move(file_done)),
          held_(report.files.size()),
          done_(report.files.size(), 0) {}

    bool finished() const { return front_ >= done_.size(); }

    void deliver(std::deque<batch_event> got, bool stopped) {
        for (auto& e : got) {
            if (e.what == batch_event::kind::progress) {
                if (hooks_.progress) hooks_.progress(e.progress);
            } else if (e.what == batch_event::kind::done) {
                done_[static_cast<std::size_t>(e.file)] = 1;
                if (file_done_) file_done_(e.file);
            } else {
                held_[static_cast<std::size_t>(e.file)].push_back(std::move(e));
            }
        }
        while (!finished()) {
            const std::size_t f = front_;
            if (!front_marked_) {
                const bool never_started =
                    done_[f] != 0 && stopped && report_.files[f].outcome == file_outcome::not_reached;
                if (!never_started && hooks_.row_marked) hooks_.row_marked(static_cast<int>(f));
                front_marked_ = true;
            }
            for (auto& e : held_[f]) {
                if (e.what == batch_event::kind::message) hooks_.say(e.message);
                if (e.what == batch_event::kind::threshold && hooks_.threshold_shown) hooks_.threshold_shown(e.value);
                if (e.what == batch_event::kind::frame && hooks_.frame_shown) hooks_.frame_shown(e.value);
            }
            held_[f].clear();
            if (done_[f] == 0) break;
            ++front_;
            front_marked_ = false;
        }
    }

private:
    const engine_hooks& hooks_;
    const batch_report& report_;
    std::function<void(int)> file_done_;
    std::vector<std::vector<batch_event>> held_;
    std::vector<char> done_;
    std::size_t front_ = 0; // the first file whose row mark and messages are not all delivered
    bool front_marked_ = false;
};

// Scans the files on `at_once` threads, one chain of files per thread at a time, each with its
// share of the cores.
void scan_files_in_parallel(const batch_request& request, unsigned at_once, const engine_hooks& hooks,
                            const std::function<void(int)>& file_done, batch_report& report) {
    const std::vector<std::vector<int>> chains = chains_by_results_folder(request.jobs);
    event_queue queue;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> next_chain{0};
    const unsigned n = std::min<unsigned>(at_once, static_cast<unsigned>(chains.size()));
    const core_budget share = request.cores.share(n);

    const auto worker = [&] {
        for (std::size_t c = next_chain++; c < chains.size(); c = next_chain++) {
            for (const int i : chains[c]) {
                if (!stop.load())
                    scan_one_file(request, share, posting_hooks(queue, stop, i), i,
                                  report.files[static_cast<std::size_t>(i)]);
                queue.post({batch_event::kind::done, i, {}, {}, 0});
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < n; ++t) threads.emplace_back(worker);

    in_order_delivery delivery(hooks, report, file_done);
    while (!delivery.finished()) {
        std::deque<batch_event> got = queue.take();
        if (!stop.load() && hooks.should_stop()) stop.store(true);
        delivery.deliver(std::move(got), stop.load());
    }
    for (auto& t : threads) t.join();
    for (const auto& file : report.files)
        if (file.outcome == file_outcome::stopped) report.stopped = true;
    if (stop.load()) report.stopped = true;
}

} // namespace

void scan_job::prepare(ser::ser_reader& reader) const {
    reader.set_bit_shift(bit_shift);
    reader.set_swap_bytes(swap_bytes);
    reader.read_ser_header();
}

batch_report run_batch(const batch_request& request) {
    const auto now = request.clock ? request.clock : std::function<local_time()>(wall_clock);
    batch_report report;
    report.start = now();

    const int count = static_cast<int>(request.jobs.size());
    // The scanners' progress gets the batch's fields on its way to the caller.
    engine_hooks hooks = request.hooks;
    std::optional<batch_progress> progress;
    if (request.hooks.progress) {
        progress.emplace(count, request.hooks.progress);
        hooks.progress = [&progress](const scan_progress& p) { progress->file_progress(p); };
    }
    const auto file_done = [&progress](int i) {
        if (progress) progress->file_done(i);
    };

    if (count <= 0) {
        report.empty_table = true;
        hooks.say(engine_message::failure(caption_id::batch, "There is no file to scan"));
        return report;
    }

    report.files.resize(static_cast<std::size_t>(count));
    if (const unsigned at_once = request.cores.at_once(request.jobs_at_once); at_once > 1 && count > 1) {
        for (int i = 0; i < count; ++i)
            report.files[static_cast<std::size_t>(i)].path = request.jobs[static_cast<std::size_t>(i)].path;
        scan_files_in_parallel(request, at_once, hooks, file_done, report);
        report.end = now();
        hooks.say(report.closing_message());
        return report;
    }
    for (int i = 0; i < count; ++i) {
        auto& file = report.files[static_cast<std::size_t>(i)];
        file.path = request.jobs[static_cast<std::size_t>(i)].path;
        if (report.stopped) continue;
        if (hooks.row_marked) hooks.row_marked(i);
        scan_one_file(request, request.cores, hooks, i, file);
        file_done(i);
        if (file.outcome == file_outcome::stopped || hooks.should_stop()) report.stopped = true;
    }

    report.end = now();
    hooks.say(report.closing_message());
    return report;
}

} // namespace serflash::detect
