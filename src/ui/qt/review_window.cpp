#include "ui/qt/review_window.h"

#include "ui/qt/candidate_table_model.h"
#include "ui/batch_status.h"
#include "ui/image_view.h"
#include "ui/qt/review_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QMessageBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace serflash::ui::qt {
namespace {

constexpr const char* geometry_key = "geometry/candidates";
constexpr int cut_half = 12;        // the cut-out shows 25 x 25 samples
constexpr int box_half = 6;         // the box around the candidate in the frame
constexpr int blink_ms = 500;       // how long each of the two frames shows while blinking
constexpr int wide_screen = 1100;   // narrower screens stack the table above the frame
constexpr QSize frame_room(16, 40); // what a window frame may add around the window

// Made children of the window at once, so the layout finds them by name.
QPushButton* push(QWidget* window, const QString& text, const char* name, const QString& tip) {
    auto* b = new QPushButton(text, window);
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
    // Flashes first, least likely from noise first; then the other classes in groups.
    table_->sortByColumn(candidate_table_model::column("class"), Qt::AscendingOrder);
    proxy_->setFilterKeyColumn(candidate_table_model::column("class"));
    class_filter_ = new QComboBox;
    class_filter_->setObjectName(QStringLiteral("class_filter"));
    class_filter_->setToolTip(QStringLiteral("Show the candidates of one class only"));
    class_filter_->setFocusPolicy(Qt::ClickFocus);
    connect(class_filter_, &QComboBox::activated, this,
            [this](int k) { filter_class(class_filter_->itemData(k).toString().toStdString()); });
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
    cut_view_->setFixedSize(140, 140);
    connect(frame_view_, &picture_view::wheel_steps, this, &review_window::step_frame);
    connect(cut_view_, &picture_view::wheel_steps, this, &review_window::step_frame);
    curve_ = new light_curve_view;
    curve_->setObjectName(QStringLiteral("light_curve"));
    info_ = new wrapping_label;
    info_->setObjectName(QStringLiteral("candidate_info"));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("review_status"));
    status_->setWordWrap(true);

    auto* previous =
        push(this, QStringLiteral("< Frame"), "button_previous_frame", QStringLiteral("Previous frame (Left)"));
    auto* next = push(this, QStringLiteral("Frame >"), "button_next_frame", QStringLiteral("Next frame (Right)"));
    blink_ = push(this, QStringLiteral("Blink"), "button_blink",
                  QStringLiteral("Alternate the frame with the frame chosen beside (B)"));
    blink_->setCheckable(true);
    blink_against_ = new QSpinBox;
    blink_against_->setObjectName(QStringLiteral("blink_against"));
    blink_against_->setPrefix(QStringLiteral("against "));
    blink_against_->setSpecialValueText(QStringLiteral("against the frame before"));
    blink_against_->setRange(-1, 0);
    blink_against_->setValue(-1);
    blink_against_->setFocusPolicy(Qt::ClickFocus);
    blink_against_->setToolTip(
        QStringLiteral("The frame a blink alternates with; at its lowest, the frame before the one shown. "
                       "Shift+B: against the frame shown now."));
    connect(blink_against_, &QSpinBox::valueChanged, this, [this](int) {
        if (blink_timer_.isActive()) step_frame(0);
    });
    grid_ = new QCheckBox(QStringLiteral("Grid (G)"));
    grid_->setObjectName(QStringLiteral("grid_overlay"));
    grid_->setFocusPolicy(Qt::NoFocus);
    grid_->setToolTip(
        QStringLiteral("Draw the selenographic grid (every 15 degrees) and the fitted limb over the "
                       "frame, where the scan found the Moon's disk and its orientation"));
    connect(grid_, &QCheckBox::toggled, this, &review_window::set_grid);
    auto* real = push(this, QStringLiteral("Real (R)"), "button_mark_real", QStringLiteral("Mark the candidate real"));
    auto* false_alarm = push(this, QStringLiteral("False (F)"), "button_mark_false",
                             QStringLiteral("Mark the candidate a false alarm"));
    auto* unsure =
        push(this, QStringLiteral("Unsure (U)"), "button_mark_unsure", QStringLiteral("Mark the candidate unsure"));
    auto* clear = push(this, QStringLiteral("Clear"), "button_mark_clear", QStringLiteral("Remove the mark (0)"));
    connect(previous, &QPushButton::clicked, this, [this] { step_frame(-1); });
    connect(next, &QPushButton::clicked, this, [this] { step_frame(1); });
    connect(blink_, &QPushButton::toggled, this, &review_window::set_blink);
    connect(real, &QPushButton::clicked, this, [this] { mark_current(verdict::real); });
    connect(false_alarm, &QPushButton::clicked, this, [this] { mark_current(verdict::false_alarm); });
    connect(unsure, &QPushButton::clicked, this, [this] { mark_current(verdict::unsure); });
    connect(clear, &QPushButton::clicked, this, [this] { mark_current(verdict::none); });

    auto* export_button = push(this, QStringLiteral("Export CSV..."), "button_export_csv",
                               QStringLiteral("Save the table with the marks"));
    auto* open_folder = push(this, QStringLiteral("Open results folder"), "button_open_results",
                             QStringLiteral("Show the chosen candidate's results folder in the file manager"));
    auto* other = push(this, QStringLiteral("Other folders..."), "button_review_folders",
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
        {QKeySequence(Qt::Key_G),
         [this] {
             if (grid_->isEnabled()) grid_->toggle();
         }},
        {QKeySequence(Qt::SHIFT | Qt::Key_B), [this] { set_blink_against(shown_frame_); }},
        {QKeySequence(Qt::Key_Left), [this] { step_frame(-1); }},
        {QKeySequence(Qt::Key_Right), [this] { step_frame(1); }},
        {QKeySequence(Qt::Key_Escape), [this] { close(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); }},
    };
    for (const auto& [key, action] : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    }

    connect(&blink_timer_, &QTimer::timeout, this, [this] {
        blink_before_ = !blink_before_;
        if (current_ >= 0) show_frame(shown_frame_);
    });

    build_layout();
    // Large enough for the table and the frame side by side, never beyond the screen (less
    // the room the window's frame takes).
    const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1280, 720);
    const screen_rect room{area.x(), area.y(), area.width() - frame_room.width(), area.height() - frame_room.height()};
    screen_rect wanted{0, area.y(), std::min(1280, room.w), std::min(720, room.h)};
    wanted.x = area.x() + (room.w - wanted.w) / 2;
    if (remember_geometry_ && restoreGeometry(QSettings().value(QLatin1String(geometry_key)).toByteArray()))
        wanted = {x(), y(), width(), height()};
    const screen_rect placed = keep_within(room, wanted);
    resize(placed.w, placed.h);
    move(placed.x, placed.y);
    if (stacked()) {
        // The frame keeps a useful size; the window scrolls down to the rest.
        frame_view_->setMinimumHeight(240);
        split_->setSizes({180, split_->sizeHint().height()});
    } else
        split_->setSizes({width() * 9 / 20, width() * 11 / 20});
}

bool review_window::stacked() const { return split_->orientation() == Qt::Vertical; }

void review_window::build_layout() {
    const auto button = [this](const char* name) { return findChild<QPushButton*>(QLatin1String(name)); };
    auto* frame_buttons = new QHBoxLayout;
    for (QWidget* w :
         {static_cast<QWidget*>(button("button_previous_frame")), static_cast<QWidget*>(button("button_next_frame")),
          static_cast<QWidget*>(blink_), static_cast<QWidget*>(blink_against_), static_cast<QWidget*>(grid_)})
        frame_buttons->addWidget(w);
    frame_buttons->addStretch(1);
    auto* mark_buttons = new QHBoxLayout;
    for (const char* name : {"button_mark_real", "button_mark_false", "button_mark_unsure", "button_mark_clear"})
        mark_buttons->addWidget(button(name));
    mark_buttons->addStretch(1);
    auto* lower = new QHBoxLayout;
    lower->addWidget(cut_view_, 0, Qt::AlignTop);
    lower->addWidget(curve_, 1);
    auto* right = new QWidget;
    auto* rv = new QVBoxLayout(right);
    rv->setContentsMargins(0, 0, 0, 0);
    rv->addWidget(info_);
    rv->addWidget(frame_view_, 1);
    rv->addLayout(frame_buttons);
    rv->addLayout(mark_buttons);
    rv->addLayout(lower);

    auto* left = new QWidget;
    auto* lv = new QVBoxLayout(left);
    lv->setContentsMargins(0, 0, 0, 0);
    auto* filter_row = new QHBoxLayout;
    auto* filter_label = new QLabel(QStringLiteral("Class"));
    filter_label->setBuddy(class_filter_);
    filter_row->addWidget(filter_label);
    filter_row->addWidget(class_filter_);
    filter_row->addStretch(1);
    lv->addLayout(filter_row);
    lv->addWidget(table_, 1);
    auto* folder_buttons = new QHBoxLayout;
    for (const char* name : {"button_export_csv", "button_open_results", "button_review_folders"})
        folder_buttons->addWidget(button(name));
    folder_buttons->addStretch(1);
    lv->addLayout(folder_buttons);
    lv->addWidget(status_);

    split_ = new QSplitter;
    split_->setObjectName(QStringLiteral("review_split"));
    const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1280, 720);
    split_->setOrientation(area.width() >= wide_screen ? Qt::Horizontal : Qt::Vertical);
    split_->setChildrenCollapsible(false);
    split_->addWidget(left);
    split_->addWidget(right);
    split_->setStretchFactor(0, 1);
    split_->setStretchFactor(1, 1);
    // What does not fit the window scrolls.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("review_scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(split_);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(scroll);
}

review_window::~review_window() = default;

void review_window::load(const std::vector<std::filesystem::path>& folders) {
    review_.load(folders);
    current_ = -1;
    model_->reload();
    fill_class_filter();
    table_->resizeColumnsToContents();
    QStringList lines;
    lines << QString::fromStdString(plural(review_.candidates().size(), "candidate", "candidates") + " in " +
                                    plural(folders.size(), "folder", "folders") + ".");
    for (const auto& e : review_.errors()) lines << QString::fromStdString(e);
    status_->setText(lines.join(QLatin1Char('\n')));
    if (proxy_->rowCount() > 0) {
        choose_row(0);
    } else {
        frame_view_->set_overlay({});
        grid_->setEnabled(false);
        frame_view_->show_image({}, {}, QStringLiteral("No candidates to show."));
        cut_view_->show_image({});
        curve_->show_curve({}, 0, -1);
        info_->set_wrapped_text({});
    }
}

void review_window::fill_class_filter() {
    class_filter_->clear();
    class_filter_->addItem(QStringLiteral("All classes"), QString());
    for (const std::string& cls : review_.classes())
        if (!cls.empty()) class_filter_->addItem(QString::fromStdString(cls), QString::fromStdString(cls));
    class_filter_->setEnabled(class_filter_->count() > 1);
    proxy_->setFilterRegularExpression(QString());
}

void review_window::filter_class(const std::string& cls) {
    const QString name = QString::fromStdString(cls);
    const int k = class_filter_->findData(name);
    if (k >= 0) class_filter_->setCurrentIndex(k);
    proxy_->setFilterRegularExpression(cls.empty() ? QString()
                                                   : QStringLiteral("^%1$").arg(QRegularExpression::escape(name)));
    if (proxy_->rowCount() > 0) choose_row(0);
}

void review_window::set_grid(bool on) {
    if (grid_->isChecked() != on) grid_->setChecked(on);
    step_frame(0);
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
    QStringList parts;
    parts << QStringLiteral("%1  candidate %2  frame %3 (%4 to %5)  x %6  y %7  peak %8 sigma")
                 .arg(QString::fromStdString(c.file))
                 .arg(c.number)
                 .arg(c.peak_frame)
                 .arg(c.first_frame)
                 .arg(c.last_frame)
                 .arg(c.x)
                 .arg(c.y)
                 .arg(c.peak_sigma, 0, 'f', 1);
    if (c.utc_peak) parts << QString::fromStdString(*c.utc_peak) + QStringLiteral(" UTC");
    const std::pair<const char*, const char*> measured[] = {
        {"class", "%1"}, {"noise", "noise %1"}, {"peak_mag", "mag %1"}, {"energy", "%1 J"}};
    for (const auto& [id, form] : measured) {
        const review_column& col = review_columns()[static_cast<std::size_t>(review_column_index(id))];
        if (const std::string text = col.text(c); !text.empty())
            parts << QString::fromLatin1(form).arg(QString::fromStdString(text));
    }
    if (const std::string place = place_text(c); !place.empty()) parts << QString::fromStdString(place);
    info_->set_wrapped_text(parts.join(QStringLiteral("  ")));
    grid_->setEnabled(c.moon != nullptr);
    const std::string path = locate_ser_file(c);
    std::string error = "The SER file " + c.ser_path + " is not there (nor " + c.file + " beside the results).";
    const bool already_open = frames_.is_open() && frames_.path() == path;
    if (path.empty() || (!already_open && !frames_.open(path, error))) {
        frames_ = {};
        shown_frame_ = on_screen_ = c.peak_frame;
        frame_view_->set_overlay({});
        frame_view_->show_image({}, {}, QString::fromStdString(error));
        cut_view_->show_image({});
        curve_->show_curve(c.curve, c.peak_frame, c.peak_frame);
        return;
    }
    blink_against_->setMaximum(std::max(0, frames_.frames() - 1));
    levels_ = levels_for_candidate(frames_.read(c.peak_frame), frames_.width(), frames_.height(), c.x, c.y, cut_half);
    show_frame(c.peak_frame);
}

void review_window::show_frame(std::int32_t frame) {
    if (current_ < 0 || !frames_.is_open()) return;
    const candidate& c = review_.candidates()[static_cast<std::size_t>(current_)];
    shown_frame_ = std::clamp(frame, 0, std::max(0, frames_.frames() - 1));
    blink_reference ref;
    if (blink_against_->value() >= 0) ref.frame = blink_against_->value();
    const std::optional<std::int32_t> partner = blink_partner(ref, shown_frame_, frames_.frames());
    const bool other = blink_timer_.isActive() && blink_before_ && partner;
    on_screen_ = other ? *partner : shown_frame_;
    const std::vector<std::uint16_t> samples = frames_.read(on_screen_);
    const int w = frames_.width(), h = frames_.height();
    const QRect box(c.x - box_half, c.y - box_half, 2 * box_half + 1, 2 * box_half + 1);
    std::vector<std::vector<QPointF>> overlay;
    if (grid_->isChecked())
        for (const auto& line : moon_overlay(c)) {
            overlay.emplace_back();
            for (const astro::image_point& q : line) overlay.back().emplace_back(q.x, q.y);
        }
    frame_view_->set_overlay(std::move(overlay));
    frame_view_->show_image(
        to_image(grey_pixels(samples, w, h, levels_.frame), w, h), box,
        QStringLiteral("frame %1%2").arg(on_screen_).arg(other ? QStringLiteral(" (blink)") : QString()));
    const std::vector<std::uint16_t> cut = cut_out(samples, w, h, c.x, c.y, cut_half);
    const int side = 2 * cut_half + 1;
    cut_view_->show_image(to_image(grey_pixels(cut, side, side, levels_.cut), side, side));
    curve_->show_curve(c.curve, c.peak_frame, on_screen_);
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

void review_window::set_blink_against(std::optional<std::int32_t> frame) {
    blink_against_->setValue(frame ? std::max(0, *frame) : -1);
}

std::vector<std::size_t> review_window::table_order() const {
    std::vector<std::size_t> order;
    for (int r = 0; r < proxy_->rowCount(); ++r)
        order.push_back(static_cast<std::size_t>(proxy_->mapToSource(proxy_->index(r, 0)).row()));
    return order;
}

void review_window::mark_current(verdict v) {
    if (current_ < 0) return;
    std::string error;
    if (!review_.set_mark(static_cast<std::size_t>(current_), v, &error))
        status_->setText(QStringLiteral("The mark was not saved: %1").arg(QString::fromStdString(error)));
    model_->mark_changed(current_);
    if (v == verdict::none) return;
    const std::vector<std::size_t> order = table_order();
    if (const auto next = next_unmarked(review_.candidates(), order, static_cast<std::size_t>(current_))) {
        const auto row = std::find(order.begin(), order.end(), *next) - order.begin();
        choose_row(static_cast<int>(row));
    }
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
    if (folder.empty()) return;
    const QString path = QString::fromStdString(folder.string());
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        QMessageBox::warning(this, QStringLiteral("Open results folder"),
                             QStringLiteral("No file manager could be started to show the folder:\n%1").arg(path));
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
