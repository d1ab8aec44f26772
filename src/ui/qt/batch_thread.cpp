#include "ui/qt/batch_thread.h"

#include "detect/fast_scan.h"
#include "report/observation_sinks.h"
#include "report/snapshot_png.h"

#include <QThread>

namespace serflash::ui::qt {

batch_thread::batch_thread(QObject* parent) : QObject(parent) { qRegisterMetaType<detect::engine_message>(); }

batch_thread::~batch_thread() {
    request_stop();
    wait();
}

void batch_thread::start(batch_job job) {
    if (running()) return;
    job_ = std::make_unique<batch_job>(std::move(job));
    stop_ = false;
    {
        const std::lock_guard lock(progress_mutex_);
        progress_.reset();
    }
    report_ = {};
    thread_ = QThread::create([this] {
        detect::batch_request request;
        request.jobs = job_->jobs;
        // Every core scans (the batch shares them among the files scanned at once).
        request.scanner = detect::make_fast_scanner();
        // The candidates' table, document and page beside the summary.
        report::observation_options observation;
        observation.moon = job_->moon;
        observation.observed = [this](const report::observation&, const std::string& problem) {
            if (!problem.empty())
                emit message(detect::engine_message::failure(detect::caption_id::scan, problem, problem));
        };
        request.sinks = report::observation_sinks(observation);
        request.png_encoder = report::png_snapshot_encoder();
        auto& hooks = request.hooks;
        hooks.message = [this](const detect::engine_message& m) { emit message(m); };
        hooks.threshold_shown = [this](std::int32_t t) { emit threshold_shown(t); };
        hooks.frame_shown = [this](std::int32_t f) { emit frame_shown(f); };
        hooks.row_marked = [this](int row) { emit row_marked(row); };
        hooks.progress = [this, observer = observer_](const detect::scan_progress& p) {
            {
                const std::lock_guard lock(progress_mutex_);
                progress_ = p;
            }
            if (observer) observer(p);
        };
        hooks.stop_requested = [this] { return stop_.load(); };
        report_ = detect::run_batch(request);
    });
    connect(thread_, &QThread::finished, this, &batch_thread::on_thread_finished);
    thread_->start();
}

void batch_thread::wait() {
    if (thread_ != nullptr) thread_->wait();
}

std::optional<detect::scan_progress> batch_thread::latest_progress() const {
    const std::lock_guard lock(progress_mutex_);
    return progress_;
}

void batch_thread::on_thread_finished() {
    if (thread_ == nullptr) return;
    thread_->deleteLater();
    thread_ = nullptr;
    job_.reset();
    emit finished_run();
}

} // namespace serflash::ui::qt
