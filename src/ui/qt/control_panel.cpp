#include "ui/qt/control_panel.h"

#include "ui/batch_status.h"
#include "ui/control_ids.h"
#include "ui/qt/image_window.h"
#include "ui/qt/review_window.h"
#include "ui/review_model.h"
#include "ui/qt/scan_table_model.h"
#include "ui_value_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
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

#include <filesystem>

namespace serflash::ui::qt {
namespace {

constexpr const char* panel_geometry_key = "geometry/panel";

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
    forward([this] { dlg_.init(); });

    connect(&runner_, &batch_thread::message, this, [this](const QString& caption, const QString& text) {
        message_box(caption.toStdString(), text.toStdString());
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
    return progress_->sizeHint().height() + 2 * status_->sizeHint().height() + 12;
}

QSize control_panel::least_size() const { return {480, 320}; }

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
    const QSize natural = natural_size();
    const QSize room = area.size() - frame;
    const window_size size =
        initial_panel_size({0, 0, room.width(), room.height()}, {natural.width(), natural.height()},
                           {least_size().width(), least_size().height()}, image_room);
    resize(size.w, size.h);
    arrange_columns();
    if (stacked_) { // the scan table below: as tall as the screen allows
        const int tall = inputs_->sizeHint().height() + height_of_status_bar();
        resize(size.w, std::min(room.height(), std::max(size.h, tall)));
    }
    move(std::max(area.left(), area.right() + 1 - size.w - frame.width()), area.top());
}

void control_panel::keep_on_screen() {
    const QRect area = available_area(this);
    const QRect outer = frameGeometry();
    const QSize frame = outer.size() - size();
    const QSize inner = size().boundedTo(area.size() - frame).expandedTo(minimumSize());
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
}

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
    for (std::size_t i = 0; i < dlg_.table.rows.size(); ++i) {
        if (!dlg_.table.rows[i].focused) continue;
        const QModelIndex index = model_->index(static_cast<int>(i), 0);
        table_view_->selectionModel()->setCurrentIndex(index,
                                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
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
        edit_cell_ = std::pair{r, column_at_x(p.x())};
        forward([&] { dlg_.table_double_click(p.x(), r); });
        edit_cell_.reset();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void control_panel::message_box(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("message_box"));
    box.exec();
}

std::optional<std::string> control_panel::choose_folder(const std::string& title) {
    const QString dir = QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(title),
                                                          QString::fromStdString(dlg_.fields.text(id::FOLDER_NAME)));
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
}

bool control_panel::edit_value(std::string& text) {
    QDialog dialog(this);
    Ui::value_dialog ui;
    ui.setupUi(&dialog);
    ui.edit_1084->setText(QString::fromStdString(text));
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
    const screen_rect placed = place_image_window(to_rect(available_area(this)), to_rect(panel),
                                                  {whole.width(), whole.height()}, image_margin + frame_extra.width());
    QRect inner = to_qrect(placed);
    inner.setSize(inner.size() - frame_extra);
    image_->resize(inner.size());
    image_->move(inner.topLeft());
    image_->show();
    return true;
}

void control_panel::destroy_image_window() { image_.reset(); }

void control_panel::set_image_caption(const std::string& caption) {
    if (image_) image_->setWindowTitle(QString::fromStdString(caption));
}

void control_panel::repaint_image() {
    if (!image_) return;
    image_->canvas()->update();
    image_->show_levels();
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
        message_box("serflash", "Error: no such file: " + path);
    });
}

void control_panel::start_scan() {
    std::optional<batch_job> job;
    forward([&] { job = dlg_.begin_batch(); });
    if (!job) return;
    set_locked(true);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("Starting the scan"));
    runner_.start(std::move(*job));
    progress_timer_.start(100);
}

void control_panel::show_progress() {
    const auto p = runner_.latest_progress();
    if (!p) return;
    const int span = std::max(1, p->end_frame - p->start_frame + 1);
    progress_->setRange(0, span);
    progress_->setValue(std::clamp(p->frame - p->start_frame + 1, 0, span));
    progress_->setFormat(QStringLiteral("File %1 of %2, frame %3 (%4 to %5)")
                             .arg(p->file_index + 1)
                             .arg(p->file_count)
                             .arg(p->frame)
                             .arg(p->start_frame)
                             .arg(p->end_frame));
}

void control_panel::on_scan_finished() {
    progress_timer_.stop();
    show_progress();
    set_locked(false);
    if (closing_) return;
    progress_->setFormat(runner_.report().stopped ? QStringLiteral("Scan stopped") : QStringLiteral("Scan completed"));
    const auto folders = result_folders(runner_.report(), std::filesystem::current_path());
    status_->setText(QString::fromStdString(batch_status(runner_.report(), folders)));
    forward([this] { dlg_.end_batch(runner_.report()); });
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
    close();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void control_panel::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    if (scanning() && event->spontaneous() && !confirm_quit()) return;
    shut_down();
}

bool control_panel::confirm_quit() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("serflash"),
                    QStringLiteral("A scan is under way. Stop it and quit?"), QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("confirm_quit"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void control_panel::keyPressEvent(QKeyEvent* event) {
    // Escape ends the program as the close box does; in the middle of a scan it asks first.
    if (event->key() == Qt::Key_Escape) {
        if (!scanning() || confirm_quit()) shut_down();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace serflash::ui::qt
