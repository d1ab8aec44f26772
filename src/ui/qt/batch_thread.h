#pragma once
// Runs a batch off the panel's thread. The engine's progress reaches the panel as queued
// signals; the per-frame progress is only stored and read by the panel's timer, so a fast scan
// cannot flood the event queue.
#include "detect/batch.h"
#include "ui/main_dialog.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

Q_DECLARE_METATYPE(serflash::detect::engine_message)

namespace serflash::ui::qt {

class batch_thread final : public QObject {
    Q_OBJECT
public:
    explicit batch_thread(QObject* parent = nullptr);
    ~batch_thread() override;

    bool running() const { return thread_ != nullptr; }
    void start(batch_job job);
    // The run ends after the frame under way; the current file still gets its closing block.
    void request_stop() { stop_ = true; }
    bool stop_requested() const { return stop_; }
    void wait();
    std::optional<detect::scan_progress> latest_progress() const;
    // Told, on the scanning thread, of each progress report once it is stored; a caller may
    // hold the run there (the tests do, to act while a scan is certainly under way).
    void set_progress_observer(std::function<void(const detect::scan_progress&)> observer) {
        observer_ = std::move(observer);
    }
    const detect::batch_report& report() const { return report_; }

signals:
    // Something the run tells, the closing message too (the panel gathers what it shows for its
    // closing box).
    void message(const serflash::detect::engine_message& m);
    void row_marked(int row);
    void threshold_shown(int threshold);
    void frame_shown(int frame);
    void finished_run();

private:
    void on_thread_finished();

    std::unique_ptr<batch_job> job_;
    QThread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    mutable std::mutex progress_mutex_;
    std::optional<detect::scan_progress> progress_;
    std::function<void(const detect::scan_progress&)> observer_;
    detect::batch_report report_;
};

} // namespace serflash::ui::qt
