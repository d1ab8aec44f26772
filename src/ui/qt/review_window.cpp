#include "ui/qt/review_window.h"

#include "ui/qt/candidate_table_model.h"
#include "ui/qt/review_widgets.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace serflash::ui::qt {
namespace {

constexpr const char* geometry_key = "geometry/candidates";
constexpr int cut_half = 12;  // the cut-out shows 25 x 25 samples
constexpr int box_half = 6;   // the box around the candidate in the frame
constexpr int blink_ms = 500; // how long each of the two frames shows while blinking

QPushButton* push(const QString& text, const char* name, const QString& tip) {
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

review_window::review_window(bool remember_geometry, QWidget* parent)
    : QWidget(parent, Qt::Window), remember_geometry_(remember_geometry) {
    setObjectName(QStringLiteral("review_window"));
    setWindowTitle(QStringLiteral("Candidates"));

    model_ = new candidate_table_model(review_, this);
    proxy_ = new QSortFilterProxyModel(this);
    proxy_->setSourceModel(model_);
    proxy_->setSortRole(Qt::UserRole);
    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("candidate_table"));
    table_->setModel(proxy_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(candidate_table_model::file, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now) { show_candidate(now.isValid() ? proxy_->mapToSource(now).row() : -1); });

    frame_view_ = new picture_view;
    frame_view_->setObjectName(QStringLiteral("candidate_frame"));
    cut_view_ = new picture_view;
    cut_view_->setObjectName(QStringLiteral("candidate_cut_out"));
    cut_view_->set_sharp(true);
    cut_view_->setMinimumSize(110, 110);
    cut_view_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    cut_view_->setFixedSize(150, 150);
    curve_ = new light_curve_view;
    curve_->setObjectName(QStringLiteral("light_curve"));
    info_ = new QLabel;
    info_->setObjectName(QStringLiteral("candidate_info"));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("review_status"));
    status_->setWordWrap(true);

    auto* previous = push(QStringLiteral("< Frame"), "button_previous_frame", QStringLiteral("Previous frame (Left)"));
    auto* next = push(QStringLiteral("Frame >"), "button_next_frame", QStringLiteral("Next frame (Right)"));
    blink_ = push(QStringLiteral("Blink"), "button_blink",
                  QStringLiteral("Alternate the frame with the frame before it (B)"));
    blink_->setCheckable(true);
    auto* real = push(QStringLiteral("Real (R)"), "button_mark_real", QStringLiteral("Mark the candidate real"));
    auto* false_alarm =
        push(QStringLiteral("False (F)"), "button_mark_false", QStringLiteral("Mark the candidate a false alarm"));
    auto* unsure =
        push(QStringLiteral("Unsure (U)"), "button_mark_unsure", QStringLiteral("Mark the candidate unsure"));
    auto* clear = push(QStringLiteral("Clear"), "button_mark_clear", QStringLiteral("Remove the mark (0)"));
    connect(previous, &QPushButton::clicked, this, [this] { step_frame(-1); });
    connect(next, &QPushButton::clicked, this, [this] { step_frame(1); });
    connect(blink_, &QPushButton::toggled, this, &review_window::set_blink);
    connect(real, &QPushButton::clicked, this, [this] { mark_current(verdict::real); });
    connect(false_alarm, &QPushButton::clicked, this, [this] { mark_current(verdict::false_alarm); });
    connect(unsure, &QPushButton::clicked, this, [this] { mark_current(verdict::unsure); });
    connect(clear, &QPushButton::clicked, this, [this] { mark_current(verdict::none); });

    auto* export_button =
        push(QStringLiteral("Export CSV..."), "button_export_csv", QStringLiteral("Save the table with the marks"));
    auto* open_folder = push(QStringLiteral("Open results folder"), "button_open_results",
                             QStringLiteral("Show the chosen candidate's results folder in the file manager"));
    auto* other = push(QStringLiteral("Other folders..."), "button_review_folders",
                       QStringLiteral("Review other results folders"));
    connect(export_button, &QPushButton::clicked, this, &review_window::export_csv);
    connect(open_folder, &QPushButton::clicked, this, &review_window::open_results_folder);
    connect(other, &QPushButton::clicked, this, &review_window::choose_folders);

    const std::pair<QKeySequence, std::function<void()>> keys[] = {
        {QKeySequence(Qt::Key_R), [this] { mark_current(verdict::real); }},
        {QKeySequence(Qt::Key_F), [this] { mark_current(verdict::false_alarm); }},
        {QKeySequence(Qt::Key_U), [this] { mark_current(verdict::unsure); }},
        {QKeySequence(Qt::Key_0), [this] { mark_current(verdict::none); }},
        {QKeySequence(Qt::Key_B), [this] { blink_->toggle(); }},
        {QKeySequence(Qt::Key_Left), [this] { step_frame(-1); }},
        {QKeySequence(Qt::Key_Right), [this] { step_frame(1); }},
    };
    for (const auto& [key, action] : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    }

    auto* frame_buttons = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(previous), static_cast<QWidget*>(next), static_cast<QWidget*>(blink_)})
        frame_buttons->addWidget(w);
    frame_buttons->addStretch(1);
    for (QWidget* w : {real, false_alarm, unsure, clear}) frame_buttons->addWidget(w);
    auto* lower = new QHBoxLayout;
    lower->addWidget(cut_view_);
    lower->addWidget(curve_, 1);
    auto* right = new QWidget;
    auto* rv = new QVBoxLayout(right);
    rv->setContentsMargins(0, 0, 0, 0);
    rv->addWidget(info_);
    rv->addWidget(frame_view_, 1);
    rv->addLayout(frame_buttons);
    rv->addLayout(lower);

    auto* left = new QWidget;
    auto* lv = new QVBoxLayout(left);
    lv->setContentsMargins(0, 0, 0, 0);
    lv->addWidget(table_, 1);
    auto* folder_buttons = new QHBoxLayout;
    for (QWidget* w : {export_button, open_folder, other}) folder_buttons->addWidget(w);
    folder_buttons->addStretch(1);
    lv->addLayout(folder_buttons);
    lv->addWidget(status_);

    auto* split = new QSplitter;
    split->addWidget(left);
    split->addWidget(right);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(split);

    connect(&blink_timer_, &QTimer::timeout, this, [this] {
        blink_before_ = !blink_before_;
        if (current_ >= 0) show_frame(shown_frame_);
    });

    // Large enough for the table and the frame side by side, never beyond the screen.
    const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1280, 720);
    resize(std::min(1280, area.width() - 16), std::min(720, area.height() - 40));
    move(area.left() + (area.width() - width()) / 2, area.top());
    split->setSizes({width() * 9 / 20, width() * 11 / 20});
    if (remember_geometry_) restoreGeometry(QSettings().value(QLatin1String(geometry_key)).toByteArray());
}

review_window::~review_window() = default;

void review_window::load(const std::vector<std::filesystem::path>& folders) {
    review_.load(folders);
    current_ = -1;
    model_->reload();
    table_->resizeColumnsToContents();
    QStringList lines;
    lines << QStringLiteral("%1 candidates in %2 folder(s).").arg(review_.candidates().size()).arg(folders.size());
    for (const auto& e : review_.errors()) lines << QString::fromStdString(e);
    status_->setText(lines.join(QLatin1Char('\n')));
    if (proxy_->rowCount() > 0) {
        choose_row(0);
    } else {
        frame_view_->show_image({}, {}, QStringLiteral("No candidates to show."));
        cut_view_->show_image({});
        curve_->show_curve({}, 0, -1);
        info_->clear();
    }
}

void review_window::save_geometry() const {
    if (remember_geometry_) QSettings().setValue(QLatin1String(geometry_key), saveGeometry());
}

void review_window::closeEvent(QCloseEvent* event) {
    save_geometry();
    set_blink(false);
    QWidget::closeEvent(event);
}

void review_window::choose_row(int view_row) {
    if (view_row < 0 || view_row >= proxy_->rowCount()) return;
    table_->selectionModel()->setCurrentIndex(proxy_->index(view_row, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void review_window::show_candidate(int index) {
    current_ = index;
    if (index < 0 || static_cast<std::size_t>(index) >= review_.candidates().size()) return;
    const candidate& c = review_.candidates()[static_cast<std::size_t>(index)];
    info_->setText(QStringLiteral("%1  candidate %2  frame %3 (%4 to %5)  x %6  y %7  peak %8 sigma  %9")
                       .arg(QString::fromStdString(c.file))
                       .arg(c.number)
                       .arg(c.peak_frame)
                       .arg(c.first_frame)
                       .arg(c.last_frame)
                       .arg(c.x)
                       .arg(c.y)
                       .arg(c.peak_sigma, 0, 'f', 1)
                       .arg(c.utc_peak ? QString::fromStdString(*c.utc_peak) + QStringLiteral(" UTC") : QString()));
    const std::string path = locate_ser_file(c);
    std::string error = "The SER file " + c.ser_path + " is not there (nor " + c.file + " beside the results).";
    const bool already_open = frames_.is_open() && frames_.path() == path;
    if (path.empty() || (!already_open && !frames_.open(path, error))) {
        frames_ = {};
        shown_frame_ = c.peak_frame;
        frame_view_->show_image({}, {}, QString::fromStdString(error));
        cut_view_->show_image({});
        curve_->show_curve(c.curve, c.peak_frame, c.peak_frame);
        return;
    }
    show_frame(c.peak_frame);
}

void review_window::show_frame(std::int32_t frame) {
    if (current_ < 0 || !frames_.is_open()) return;
    const candidate& c = review_.candidates()[static_cast<std::size_t>(current_)];
    shown_frame_ = std::clamp(frame, 0, std::max(0, frames_.frames() - 1));
    const bool before = blink_timer_.isActive() && blink_before_ && shown_frame_ > 0;
    const std::int32_t read_frame = before ? shown_frame_ - 1 : shown_frame_;
    const std::vector<std::uint16_t> samples = frames_.read(read_frame);
    // Both frames of a blink use the levels of the frame chosen, so only the change shows.
    const display::stretch_levels levels = display::frame_levels(before ? frames_.read(shown_frame_) : samples);
    const int w = frames_.width(), h = frames_.height();
    const QRect box(c.x - box_half, c.y - box_half, 2 * box_half + 1, 2 * box_half + 1);
    frame_view_->show_image(
        to_image(grey_pixels(samples, w, h, levels), w, h), box,
        QStringLiteral("frame %1%2").arg(read_frame).arg(before ? QStringLiteral(" (before)") : QString()));
    const std::vector<std::uint16_t> cut = cut_out(samples, w, h, c.x, c.y, cut_half);
    const int side = 2 * cut_half + 1;
    const display::stretch_levels cut_levels = display::frame_levels(cut, 1.0, 100.0);
    cut_view_->show_image(to_image(grey_pixels(cut, side, side, cut_levels), side, side));
    curve_->show_curve(c.curve, c.peak_frame, read_frame);
}

void review_window::step_frame(int delta) {
    if (current_ >= 0) show_frame(shown_frame_ + delta);
}

void review_window::set_blink(bool on) {
    if (blink_->isChecked() != on) blink_->setChecked(on);
    if (on) {
        blink_before_ = false;
        blink_timer_.start(blink_ms);
    } else {
        blink_timer_.stop();
        blink_before_ = false;
        step_frame(0);
    }
}

void review_window::mark_current(verdict v) {
    if (current_ < 0) return;
    std::string error;
    if (!review_.set_mark(static_cast<std::size_t>(current_), v, &error))
        status_->setText(QStringLiteral("The mark was not saved: %1").arg(QString::fromStdString(error)));
    model_->mark_changed(current_);
}

void review_window::export_csv() {
    const QString start =
        review_.folders().empty() ? QString() : QString::fromStdString(review_.folders().front().string());
    const QString target =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the candidates"),
                                     start + QStringLiteral("/candidates.csv"), QStringLiteral("CSV files (*.csv)"));
    if (target.isEmpty()) return;
    std::string error;
    status_->setText(review_.export_csv(target.toStdString(), &error)
                         ? QStringLiteral("Saved %1").arg(target)
                         : QStringLiteral("Not saved: %1").arg(QString::fromStdString(error)));
}

void review_window::open_results_folder() {
    std::filesystem::path folder;
    if (current_ >= 0)
        folder = review_.candidates()[static_cast<std::size_t>(current_)].source.parent_path();
    else if (!review_.folders().empty())
        folder = review_.folders().front();
    if (!folder.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

void review_window::choose_folders() {
    QFileDialog dialog(this, QStringLiteral("Results folders to review"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted) return;
    std::vector<std::filesystem::path> folders;
    for (const QString& f : dialog.selectedFiles()) folders.emplace_back(f.toStdString());
    if (!folders.empty()) load(folders);
}

} // namespace serflash::ui::qt
