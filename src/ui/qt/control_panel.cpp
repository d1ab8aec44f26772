#include "ui/qt/control_panel.h"

#include "ui/batch_status.h"
#include "ui/control_ids.h"
#include "ui/qt/image_window.h"
#include "ui/qt/review_window.h"
#include "ui/review_model.h"
#include "ui/qt/scan_table_model.h"
#include "ui/setting_table.h"
#include "ui_value_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>

namespace serflash::ui::qt {
namespace {

constexpr const char* panel_geometry_key = "geometry/panel";
constexpr const char* last_folder_key = "folders/last";

QMessageBox::Icon standard_icon(box_icon icon) {
    switch (icon) {
        case box_icon::warning:
            return QMessageBox::Warning;
        case box_icon::error:
            return QMessageBox::Critical;
        case box_icon::information:
            break;
    }
    return QMessageBox::Information;
}

bool is_ser_name(const QString& path) { return path.endsWith(QLatin1String(".ser"), Qt::CaseInsensitive); }

screen_rect to_rect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }
QRect to_qrect(const screen_rect& r) { return {r.x, r.y, r.w, r.h}; }

} // namespace

QRect available_area(const QWidget* w) {
    const QScreen* screen = w->screen() != nullptr ? w->screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

control_panel::control_panel(folder_access& folders, platform::file_system& fs, bool remember_geometry)
    : QWidget(nullptr), dlg_(*this, folders, fs), remember_geometry_(remember_geometry) {
    setObjectName(QStringLiteral("control_panel"));
    setWindowTitle(QStringLiteral("serflash"));
    build();
    dlg_.fields.on_change = [this](int id) { mirror(id); };
    forward([this] {
        dlg_.init();
        // The folder listed last time, when it is still there.
        const QString last =
            remember_geometry_ ? QSettings().value(QLatin1String(last_folder_key)).toString() : QString();
        if (!last.isEmpty() && std::filesystem::is_directory(last.toStdString()))
            dlg_.list_folder(last.toStdString(), true);
    });
    setAcceptDrops(true);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { forward([this] { dlg_.relist(); }); });

    // What a file of the run tells goes to the status line and the closing box, not a box of its own.
    connect(&runner_, &batch_thread::message, this, [this](const detect::engine_message& m) {
        if (closing_) return; // a message still queued when the panel shuts down finds no status
        dlg_.batch_message(m);
        show_status();
    });
    connect(&runner_, &batch_thread::row_marked, this, [this](int r) { forward([&] { dlg_.batch_row_marked(r); }); });
    connect(&runner_, &batch_thread::threshold_shown, this, [this](int t) { dlg_.batch_threshold(t); });
    connect(&runner_, &batch_thread::frame_shown, this, [this](int f) { dlg_.batch_frame(f); });
    connect(&runner_, &batch_thread::finished_run, this, &control_panel::on_scan_finished);
    connect(&progress_timer_, &QTimer::timeout, this, &control_panel::show_progress);

    place_on_screen();
}

QSize control_panel::natural_size() const {
    // The whole of the columns without scroll bars, plus the status bar below them.
    const QSize inner(wide_width_, inputs_->sizeHint().height());
    const int bar = height_of_status_bar();
    return {inner.width() + scroll_->verticalScrollBar()->sizeHint().width(), inner.height() + bar};
}

int control_panel::height_of_status_bar() const {
    return progress_->sizeHint().height() +
           std::max(status_->sizeHint().height(), details_button_->sizeHint().height()) + 12;
}

QSize control_panel::least_size() const {
    // The columns one below the other, with the scroll bar beside them.
    return {std::max(480, narrow_width_ + scroll_->verticalScrollBar()->sizeHint().width()), 320};
}

void control_panel::place_on_screen() {
    const QRect area = available_area(this);
    setMinimumSize(least_size().boundedTo(area.size()));
    QSettings settings;
    if (remember_geometry_ && restoreGeometry(settings.value(QLatin1String(panel_geometry_key)).toByteArray()) &&
        area.intersects(frameGeometry()))
        return;
    // The title bar and borders are known only once the window is on the screen: until then
    // the style's idea of them keeps the whole frame on the screen.
    QSize frame = frameGeometry().size() - size();
    if (frame.isEmpty()) {
        const int border = std::max(4, 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
        frame = QSize(border, std::max(24, style()->pixelMetric(QStyle::PM_TitleBarHeight)) + border);
    }
    guessed_frame_ = frame;
    const QSize natural = natural_size();
    const QSize room = area.size() - frame;
    const window_size size =
        initial_panel_size({0, 0, room.width(), room.height()}, {natural.width(), natural.height()},
                           {least_size().width(), least_size().height()}, image_room);
    resize(size.w, size.h);
    arrange_columns();
    if (stacking_ != 0) { // columns below each other: as tall as the screen allows
        const int tall = scan_column_->sizeHint().height() + inputs_->sizeHint().height() + height_of_status_bar();
        resize(size.w, std::min(room.height(), std::max(size.h, tall)));
    }
    fills_height_ = height() >= room.height();
    move(std::max(area.left(), area.right() + 1 - size.w - frame.width()), area.top());
}

void control_panel::keep_on_screen() {
    const QRect area = available_area(this);
    const QRect outer = frameGeometry();
    const QSize frame = outer.size() - size();
    QSize wanted = size();
    // Decorations smaller than guessed (none without a window manager) leave room at the
    // bottom: a panel that was to fill the height takes it, instead of leaving a bare strip.
    if (fills_height_ && frame.height() < guessed_frame_.height())
        wanted.setHeight(wanted.height() + guessed_frame_.height() - frame.height());
    fills_height_ = false;
    const QSize inner = wanted.boundedTo(area.size() - frame).expandedTo(minimumSize());
    if (inner != size()) resize(inner);
    const QSize whole = inner + frame;
    const int x = std::clamp(outer.x(), area.left(), std::max(area.left(), area.right() + 1 - whole.width()));
    const int y = std::clamp(outer.y(), area.top(), std::max(area.top(), area.bottom() + 1 - whole.height()));
    if (QPoint(x, y) != outer.topLeft()) move(x, y);
}

void control_panel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Now the real title bar and borders are known.
    if (!event->spontaneous()) keep_on_screen();
}

void control_panel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange_columns();
}

void control_panel::save_geometry() const {
    if (!remember_geometry_) return;
    QSettings settings;
    settings.setValue(QLatin1String(panel_geometry_key), saveGeometry());
}

control_panel::~control_panel() {
    runner_.request_stop();
    runner_.wait();
    dlg_.fields.on_change = nullptr;
}

void control_panel::forward(const std::function<void()>& action) {
    action();
    sync_table();
    sync_folder_list();
    follow_folder();
}

void control_panel::follow_folder() {
    const std::string& folder = dlg_.fields.text(id::FOLDER_NAME);
    if (folder == watched_) return;
    if (!watched_.empty()) watcher_.removePath(QString::fromStdString(watched_));
    watched_ = folder;
    if (watched_.empty()) return;
    watcher_.addPath(QString::fromStdString(watched_));
    if (remember_geometry_) QSettings().setValue(QLatin1String(last_folder_key), QString::fromStdString(watched_));
}

void control_panel::check_field(int id) {
    const auto e = edits_.find(id);
    if (e == edits_.end()) return;
    QString help;
    std::string problem;
    if (const setting_rule* rule = setting_for_field(id); rule != nullptr) {
        problem = value_problem(*rule, dlg_.fields.text(id));
        help = QString::fromLatin1(rule->help.data(), static_cast<qsizetype>(rule->help.size())) +
               QStringLiteral(". ") + QString::fromStdString(allowed_values(*rule)) + QStringLiteral(".");
    } else if (const setup_rule* setup = setup_for_field(id); setup != nullptr && setup->problem != nullptr) {
        problem = setup->problem(dlg_.fields.text(id));
        help = QString::fromLatin1(setup->help.data(), static_cast<qsizetype>(setup->help.size())) +
               QStringLiteral(". Empty: not given.");
    } else {
        return;
    }
    if (problem.empty()) {
        e->second->setStyleSheet(QString());
        e->second->setToolTip(help);
    } else {
        e->second->setStyleSheet(QStringLiteral("QLineEdit { background: #ffd8d8; }"));
        e->second->setToolTip(QString::fromStdString(problem) + QStringLiteral(".\n") + help);
        status_->setText(QString::fromStdString(problem) + QStringLiteral("."));
    }
}

void control_panel::show_status() {
    const QString line = QString::fromStdString(dlg_.status_line());
    status_->setText(status_->fontMetrics().elidedText(line, Qt::ElideRight, std::max(80, status_->width())));
    status_->setToolTip(line);
    QString details = QString::fromStdString(dlg_.status_details());
    if (details.isEmpty()) {
        for (const std::string& note : dlg_.batch_notes()) details += QString::fromStdString(note) + QLatin1Char('\n');
    }
    details_->setPlainText(details.isEmpty() ? line : line + QStringLiteral("\n\n") + details);
    details_button_->setEnabled(!line.isEmpty());
}

QWidget* control_panel::details_window() const { return details_.get(); }

void control_panel::mirror(int id) {
    const bool was = syncing_;
    syncing_ = true;
    if (const auto e = edits_.find(id); e != edits_.end()) {
        const QString text = QString::fromStdString(dlg_.fields.text(id));
        if (e->second->text() != text) e->second->setText(text);
    } else if (const auto s = switches_.find(id); s != switches_.end()) {
        const bool on = dlg_.fields.checked(id);
        if (s->second->isChecked() != on) s->second->setChecked(on);
    }
    syncing_ = was;
}

void control_panel::sync_table() {
    syncing_ = true;
    model_->refresh();
    bool focused = false;
    for (std::size_t i = 0; i < dlg_.table.rows.size(); ++i) {
        if (!dlg_.table.rows[i].focused) continue;
        focused = static_cast<int>(i) < dlg_.table.list_file;
        const QModelIndex index = model_->index(static_cast<int>(i), 0);
        table_view_->selectionModel()->setCurrentIndex(index,
                                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    remove_button_->setEnabled(focused); // Remove takes the row chosen in the table
    syncing_ = false;
}

void control_panel::sync_folder_list() {
    const auto& entries = dlg_.folder_entries();
    std::vector<std::string> labels;
    labels.reserve(entries.size());
    for (const auto& e : entries) labels.push_back(e.label);
    syncing_ = true;
    if (labels != listed_labels_) {
        folder_list_->clear();
        for (const auto& l : labels) folder_list_->addItem(QString::fromStdString(l));
        listed_labels_ = std::move(labels);
    }
    if (folder_list_->currentRow() != dlg_.folder_selection()) folder_list_->setCurrentRow(dlg_.folder_selection());
    syncing_ = false;
}

bool control_panel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_view_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint p = mouse->position().toPoint();
        const int r = table_view_->rowAt(p.y());
        const int c = table_view_->columnAt(p.x()); // the columns as they are drawn and scrolled
        if (c < 0) return true;
        edit_cell_ = std::pair{r, c};
        forward([&] { dlg_.cell_double_click(c, r); });
        edit_cell_.reset();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Return adds the file chosen in the folder list (or lists the folder), Delete removes the
        // row chosen in the table.
        if (watched == folder_list_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            const int r = folder_list_->currentRow();
            if (r >= 0) forward([&] { dlg_.folder_double_click(r); });
            return true;
        }
        if (watched == table_view_ && key == Qt::Key_Delete) {
            forward([this] { dlg_.command(id::IDC_BUTTON_REMOVE); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void control_panel::message_box(box_icon icon, box_caption caption, const std::string& text) {
    const std::string title(caption_text(caption));
    show_status(); // the line beneath tells the same as the box, not what went before
    QMessageBox box(standard_icon(icon), QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    this);
    box.setObjectName(QStringLiteral("message_box"));
    box.exec();
}

std::optional<std::string> control_panel::choose_folder(const std::string& title) {
    const QString dir = QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(title),
                                                          QString::fromStdString(dlg_.fields.text(id::FOLDER_NAME)));
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
}

bool control_panel::edit_value(std::string& text, const value_rules& rules) {
    QDialog dialog(this);
    Ui::value_dialog ui;
    ui.setupUi(&dialog);
    ui.allowed_text->setText(QStringLiteral("Allowed: ") + QString::fromStdString(rules.allowed) + QLatin1Char('.'));
    ui.allowed_text->setVisible(!rules.allowed.empty());
    // Checked as it is typed: OK only for a value the scan can use, and the reason otherwise.
    const auto check = [&ui, &rules](const QString& typed) {
        const std::string problem = rules.problem ? rules.problem(typed.toStdString()) : std::string();
        ui.problem_text->setText(problem.empty() ? QString() : QString::fromStdString(problem) + QLatin1Char('.'));
        ui.button_ok->setEnabled(problem.empty());
    };
    connect(ui.edit_1084, &QLineEdit::textChanged, &dialog, check);
    ui.edit_1084->setText(QString::fromStdString(text));
    check(ui.edit_1084->text());
    ui.edit_1084->selectAll(); // typing replaces the old value
    if (edit_cell_) {
        const auto [r, c] = *edit_cell_;
        const auto& table = dlg_.table;
        const QString column = model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        ui.cell_text->setText(
            QStringLiteral("%1, column \"%2\"").arg(QString::fromStdString(table.cell(r, col_name)), column));
        // Just below the cell, kept on the screen.
        const QRect cell = table_view_->visualRect(model_->index(r, c));
        QPoint at = table_view_->viewport()->mapToGlobal(cell.bottomLeft() + QPoint(0, 2));
        dialog.adjustSize();
        const QRect area = available_area(this);
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - dialog.width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - dialog.height())));
        dialog.move(at);
    } else {
        ui.cell_text->hide();
        dialog.move(mapToGlobal(QPoint(0, 0)));
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    text = ui.edit_1084->text().toStdString();
    return true;
}

bool control_panel::create_image_window(int client_w, int client_h) {
    image_.reset();
    image_ = std::make_unique<image_window>(
        dlg_, [this](const std::function<void()>& action) { forward(action); }, client_w, client_h);
    // Decorations as the panel has them (none offscreen).
    const QRect panel = frameGeometry();
    const QSize frame_extra(panel.width() - width(), panel.height() - height());
    const QSize whole = image_->whole_size() + frame_extra;
    // Beside the panel, never over it: the panel's left edge holds the status line.
    const screen_rect placed =
        place_image_window(to_rect(available_area(this)), to_rect(panel), {whole.width(), whole.height()}, 0);
    QRect inner = to_qrect(placed);
    inner.setSize(inner.size() - frame_extra);
    image_->resize(inner.size());
    image_->move(inner.topLeft());
    image_->show();
    return true;
}

void control_panel::destroy_image_window() { image_.reset(); }

void control_panel::set_image_caption(const std::string& caption) {
    if (image_) image_->set_caption(QString::fromStdString(caption));
}

void control_panel::repaint_image() {
    if (image_) image_->refresh();
}

void control_panel::add_path(const std::string& path) {
    const std::filesystem::path p(path);
    const std::string dir = std::filesystem::absolute(p).parent_path().string();
    forward([&] {
        if (!dlg_.list_folder(dir, true)) return;
        const auto& entries = dlg_.folder_entries();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].kind == entry_kind::file && entries[i].target == p.filename().string()) {
                dlg_.folder_double_click(static_cast<int>(i));
                return;
            }
        }
        message_box(box_icon::error, box_caption::add_file, "There is no such file:\n" + path);
    });
}

void control_panel::add_dropped(const QStringList& paths) {
    QStringList refused;
    for (const QString& path : paths) {
        const std::filesystem::path p(path.toStdString());
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            forward([&] { dlg_.list_folder(p.string(), true); });
        } else if (is_ser_name(path) && std::filesystem::is_regular_file(p, ec)) {
            add_path(p.string());
        } else {
            refused << path;
        }
    }
    if (!refused.isEmpty())
        message_box(box_icon::warning, box_caption::add_file,
                    "Only SER files (.ser) and folders can be dropped here. Not added:\n" +
                        refused.join(QLatin1Char('\n')).toStdString());
}

void control_panel::dragEnterEvent(QDragEnterEvent* event) {
    if (scanning() || !event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
}

void control_panel::dropEvent(QDropEvent* event) {
    if (scanning()) return;
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    event->acceptProposedAction();
    // After the drop has been taken: the files may open boxes of their own.
    QMetaObject::invokeMethod(
        this, [this, paths] { add_dropped(paths); }, Qt::QueuedConnection);
}

void control_panel::start_scan() {
    std::optional<batch_job> job;
    forward([&] { job = dlg_.begin_batch(); });
    if (!job) return;
    set_locked(true);
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("Starting the scan"));
    show_status();
    runner_.start(std::move(*job));
    progress_timer_.start(100);
}

void control_panel::show_progress() {
    const auto p = runner_.latest_progress();
    if (!p) return;
    // Through the whole batch: every file's frames in every pass.
    progress_->setValue(static_cast<int>(std::lround(std::clamp(p->fraction(), 0.0, 1.0) * 1000.0)));
    progress_->setFormat(QStringLiteral("File %1 of %2, pass %3 (threshold %4), frame %5: %p%")
                             .arg(p->file_index + 1)
                             .arg(p->file_count)
                             .arg(std::max(1, p->pass))
                             .arg(QString::fromStdString(threshold_text(p->threshold)))
                             .arg(p->frame));
}

void control_panel::on_scan_finished() {
    progress_timer_.stop();
    show_progress();
    set_locked(false);
    if (quit_question_) { // the scan it asked about is over
        QMessageBox* question = quit_question_;
        quit_question_ = nullptr;
        question->disconnect(this);
        question->close();
        question->deleteLater();
    }
    if (closing_) return;
    const bool stopped = runner_.report().stopped;
    if (!stopped) progress_->setValue(1000); // every frame of every pass of every file
    progress_->setFormat(stopped ? QStringLiteral("Scan stopped: %p%") : QStringLiteral("Scan finished: %p%"));
    const auto folders = result_folders(runner_.report(), std::filesystem::current_path());
    forward([&] { dlg_.end_batch(runner_.report(), folders); });
    if (closing_) return; // the program ended while the closing box was up
    show_status();
    if (open_review_after_scan_) {
        std::vector<std::filesystem::path> with_candidates;
        for (const auto& f : folders)
            if (!candidate_files_in(f).empty()) with_candidates.push_back(f);
        if (!with_candidates.empty()) open_review(with_candidates);
    }
    emit scan_finished();
}

void control_panel::open_review(const std::vector<std::filesystem::path>& folders) {
    if (!review_) review_ = std::make_unique<review_window>(remember_geometry_);
    review_->load(folders);
    review_->show();
    review_->raise();
}

void control_panel::choose_review_folders() {
    QFileDialog dialog(this, QStringLiteral("Results folders to review"),
                       QString::fromStdString(dlg_.fields.text(id::FOLDER_NAME)));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted) return;
    std::vector<std::filesystem::path> folders;
    for (const QString& f : dialog.selectedFiles()) folders.emplace_back(f.toStdString());
    if (!folders.empty()) open_review(folders);
}

void control_panel::set_locked(bool locked) {
    inputs_->setEnabled(!locked);
    stop_button_->setEnabled(locked);
}

void control_panel::shut_down() {
    if (closing_) return;
    closing_ = true;
    save_geometry();
    if (review_) review_->save_geometry();
    runner_.request_stop();
    runner_.wait();
    dlg_.command(id::IDCANCEL);
    review_.reset();
    details_.reset();
    close();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void control_panel::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    if (scanning() && event->spontaneous()) {
        ask_to_quit();
        return;
    }
    shut_down();
}

void control_panel::ask_to_quit() {
    if (!scanning()) {
        shut_down();
        return;
    }
    if (quit_question_) {
        quit_question_->raise();
        return;
    }
    // Not a nested loop: the scan's end can close the question, and an answer is taken then.
    auto* box = new QMessageBox(
        QMessageBox::Question, QString::fromStdString(std::string(caption_text(box_caption::quit))),
        QStringLiteral("A scan is under way. Stop it and quit?"), QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("confirm_quit"));
    box->setDefaultButton(QMessageBox::No);
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box](int result) {
        if (quit_question_ != box) return;
        quit_question_ = nullptr;
        quit_answered(result == QMessageBox::Yes);
    });
    quit_question_ = box;
    box->open();
}

void control_panel::quit_answered(bool yes) {
    // Taken as things stand now: a scan that ended meanwhile has closed the question already.
    if (yes) shut_down();
}

void control_panel::keyPressEvent(QKeyEvent* event) {
    // Escape ends the program as the close box does; in the middle of a scan it asks first.
    if (event->key() == Qt::Key_Escape) {
        ask_to_quit();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace serflash::ui::qt
