#include "ui/qt/control_panel.h"

#include "ui/control_ids.h"
#include "ui/qt/image_window.h"
#include "ui/qt/scan_table_model.h"
#include "ui_value_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
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
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

namespace serflash::ui::qt {
namespace {

QString id_name(const char* kind, int id) { return QStringLiteral("%1_%2").arg(QLatin1String(kind)).arg(id); }

QLabel* label(const QString& text, QWidget* buddy = nullptr) {
    auto* l = new QLabel(text);
    if (buddy != nullptr) l->setBuddy(buddy);
    return l;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* h = new QHBoxLayout;
    for (QWidget* w : widgets) h->addWidget(w);
    if (stretch) h->addStretch(1);
    return h;
}

} // namespace

control_panel::control_panel(folder_access& folders, platform::file_system& fs)
    : QWidget(nullptr), dlg_(*this, folders, fs) {
    setObjectName(QStringLiteral("control_panel"));
    setWindowTitle(QStringLiteral("serflash"));
    build();
    dlg_.fields.on_change = [this](int id) { mirror(id); };
    forward([this] { dlg_.init(); });

    connect(&runner_, &scan_runner::message, this, [this](const QString& caption, const QString& text) {
        message_box(caption.toStdString(), text.toStdString());
    });
    connect(&runner_, &scan_runner::row_marked, this, [this](int r) { forward([&] { dlg_.batch_row_marked(r); }); });
    connect(&runner_, &scan_runner::threshold_shown, this, [this](int t) { dlg_.batch_threshold(t); });
    connect(&runner_, &scan_runner::frame_shown, this, [this](int f) { dlg_.batch_frame(f); });
    connect(&runner_, &scan_runner::finished_run, this, &control_panel::on_scan_finished);
    connect(&progress_timer_, &QTimer::timeout, this, &control_panel::show_progress);

    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        const QRect area = screen->availableGeometry();
        move(std::max(area.left(), area.right() - frameGeometry().width()), area.top());
    }
}

control_panel::~control_panel() {
    runner_.request_stop();
    runner_.wait();
    dlg_.fields.on_change = nullptr;
}

QLineEdit* control_panel::edit(int id, bool read_only, int width) {
    auto* e = new QLineEdit;
    e->setObjectName(id_name("field", id));
    e->setReadOnly(read_only);
    if (width > 0) e->setFixedWidth(width);
    connect(e, &QLineEdit::textEdited, this, [this, id](const QString& t) {
        if (!syncing_) dlg_.fields.set_text(id, t.toStdString());
    });
    edits_[id] = e;
    return e;
}

QAbstractButton* control_panel::check(int id, const QString& text) {
    auto* c = new QCheckBox(text);
    c->setObjectName(id_name("check", id));
    connect(c, &QCheckBox::toggled, this, [this, id](bool on) {
        if (!syncing_) dlg_.fields.set_checked(id, on);
    });
    switches_[id] = c;
    return c;
}

QAbstractButton* control_panel::radio(int id, const QString& text, bool text_left) {
    auto* r = new QRadioButton(text);
    r->setObjectName(id_name("radio", id));
    if (text_left) r->setLayoutDirection(Qt::RightToLeft);
    connect(r, &QRadioButton::toggled, this, [this, id](bool on) {
        if (!syncing_) dlg_.fields.set_checked(id, on);
    });
    switches_[id] = r;
    return r;
}

QPushButton* control_panel::button(int id, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(id_name("button", id));
    b->setAutoDefault(false);
    return b;
}

QWidget* control_panel::up_down(int id, std::function<void(int delta)> stepped) {
    auto* box = new QWidget;
    box->setObjectName(id_name("updown", id));
    auto* v = new QVBoxLayout(box);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    for (const bool up : {true, false}) {
        auto* b = new QToolButton;
        b->setObjectName(up ? QStringLiteral("up") : QStringLiteral("down"));
        b->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRepeat(true);
        b->setFixedSize(18, 11);
        // The up arrow reports a negative step, which moves forward.
        connect(b, &QToolButton::clicked, this, [this, up, stepped] { forward([&] { stepped(up ? -1 : 1); }); });
        v->addWidget(b);
    }
    return box;
}

void control_panel::build() {
    using namespace serflash::ui::id;
    inputs_ = new QWidget;
    inputs_->setObjectName(QStringLiteral("inputs"));
    auto* columns_layout = new QHBoxLayout(inputs_);
    columns_layout->setContentsMargins(0, 0, 0, 0);

    // Left column: display, frames, thresholds and manual masks.
    auto* left = new QVBoxLayout;
    auto* open_folder = button(OPEN_FOLDER, QStringLiteral("Open folder"));
    connect(open_folder, &QPushButton::clicked, this, [this] { forward([this] { dlg_.command(id::OPEN_FOLDER); }); });
    auto* shift = edit(BIT_SHIFT);
    auto* shift_row = row({label(QStringLiteral("bit shift"), shift), shift,
                           up_down(BIT_SHIFT_STEPPER, [this](int d) { dlg_.bit_shift_stepper(d); })});
    shift_row->addWidget(open_folder);
    left->addLayout(shift_row);

    auto* zoom_box = new QGroupBox(QStringLiteral("Display size"));
    auto* zoom_row = new QHBoxLayout(zoom_box);
    auto* zoom_group = new QButtonGroup(this);
    const std::pair<int, const char*> zooms[] = {
        {ZOOM_100, "100%"}, {ZOOM_50, " 50%"}, {ZOOM_33, " 33%"}, {ZOOM_25, " 25%"}};
    for (const auto& [zid, text] : zooms) {
        auto* r = radio(zid, QString::fromLatin1(text), true);
        zoom_group->addButton(r);
        zoom_row->addWidget(r);
    }
    zoom_row->addStretch(1);
    left->addWidget(zoom_box);

    auto* w_edit = edit(IMAGE_WIDTH, true);
    auto* h_edit = edit(IMAGE_HEIGHT, true);
    left->addLayout(
        row({label(QStringLiteral("Width"), w_edit), w_edit, label(QStringLiteral("Height"), h_edit), h_edit}));
    auto* x_edit = edit(READOUT_X, true);
    auto* y_edit = edit(READOUT_Y, true);
    auto* v_edit = edit(READOUT_VALUE, true, 60);
    left->addLayout(row({label(QStringLiteral("x"), x_edit), x_edit, label(QStringLiteral("y"), y_edit), y_edit,
                         label(QStringLiteral("value"), v_edit), v_edit}));
    left->addWidget(check(SHOW_MASK_AREAS, QStringLiteral("Show manual mask areas")));
    left->addWidget(check(SHOW_RED_BLUE, QStringLiteral("Show RED and BLUE pixels")));

    auto* frame_no = edit(FRAME_NO, false, 64);
    auto* frame_row = row({label(QStringLiteral("frame No."), frame_no), frame_no}, false);
    for (int sid : {STEP_1, STEP_50, STEP_500, STEP_5000})
        frame_row->addWidget(up_down(sid, [this, sid](int d) { dlg_.frame_stepper(sid, d); }));
    auto* show_frame = button(SHOW_FRAME, QStringLiteral("Show frame"));
    connect(show_frame, &QPushButton::clicked, this, [this] { forward([this] { dlg_.command(id::SHOW_FRAME); }); });
    frame_row->addWidget(show_frame);
    frame_row->addStretch(1);
    left->addLayout(frame_row);

    auto* threshold_box = new QGroupBox(QStringLiteral("Threshold for detection"));
    auto* tg = new QGridLayout(threshold_box);
    auto* initial = edit(INITIAL_THRESHOLD);
    auto* step = edit(THRESHOLD_STEP);
    tg->addWidget(label(QStringLiteral("Initial threshold"), initial), 0, 0);
    tg->addWidget(initial, 0, 1);
    tg->addWidget(label(QStringLiteral("Threshold step"), step), 1, 0);
    tg->addWidget(step, 1, 1);
    auto* cross = new QGridLayout;
    const struct {
        int field;
        const char* text;
        int r, c;
    } pcts[] = {{PCT_TOP, "T", 0, 2}, {PCT_LEFT, "L", 1, 0}, {PCT_RIGHT, "R", 1, 4}, {PCT_BOTTOM, "B", 2, 2}};
    for (const auto& p : pcts) {
        auto* e = edit(p.field, false, 36);
        auto* cell = row({label(QString::fromLatin1(p.text), e), e, label(QStringLiteral("%"))}, false);
        cross->addLayout(cell, p.r, p.c, 1, 2);
    }
    tg->addLayout(cross, 0, 2, 3, 1);
    left->addWidget(threshold_box);

    auto* mask_box = new QGroupBox(QStringLiteral("Manual setting of mask areas"));
    auto* mg = new QGridLayout(mask_box);
    mg->addWidget(label(QStringLiteral("UL corner    LR corner")), 0, 2, 1, 2);
    auto* mask_group = new QButtonGroup(this);
    for (int m = 0; m < 4; ++m) {
        const int col = (m % 2) * 4, r0 = 1 + (m / 2) * 2;
        auto* r = radio(MASK_SELECT_0 + m, QString(), false);
        mask_group->addButton(r);
        mg->addWidget(r, r0, col, 2, 1);
        mg->addWidget(label(QStringLiteral("x")), r0, col + 1);
        mg->addWidget(edit(MASK_FIELDS[m][0], false, 44), r0, col + 2);
        mg->addWidget(edit(MASK_FIELDS[m][2], false, 44), r0, col + 3);
        mg->addWidget(label(QStringLiteral("y")), r0 + 1, col + 1);
        mg->addWidget(edit(MASK_FIELDS[m][1], false, 44), r0 + 1, col + 2);
        mg->addWidget(edit(MASK_FIELDS[m][3], false, 44), r0 + 1, col + 3);
    }
    mg->addWidget(label(QStringLiteral("UL corner    LR corner")), 0, 6, 1, 2);
    left->addWidget(mask_box);
    left->addStretch(1);

    // Middle column: automatic masks, scatter, folder list.
    auto* middle = new QVBoxLayout;
    const QString half_text = QStringLiteral("Half width and height of mask areas");
    middle->addWidget(check(MASK_RED_ON, QStringLiteral("Mask around RED pixels")));
    auto* red_half = edit(RED_MASK_HALF);
    middle->addLayout(row({label(half_text, red_half), red_half}));
    middle->addWidget(check(MASK_BLUE_ON, QStringLiteral("Mask around BLUE pixels")));
    auto* blue_half = edit(BLUE_MASK_HALF);
    middle->addLayout(row({label(half_text, blue_half), blue_half}));
    middle->addLayout(
        row({check(MASK_STARS_ON, QStringLiteral("Mask stars     Threshold for stars")), edit(STAR_THRESHOLD)}));
    auto* star_width = edit(STAR_HALF_WIDTH);
    middle->addLayout(row({label(QStringLiteral("Half width of a stellar image"), star_width), star_width}));
    auto* star_half = edit(STAR_MASK_HALF);
    middle->addLayout(row({label(half_text, star_half), star_half}));
    middle->addWidget(label(QStringLiteral("Acceptable range of the scatter of detected points")));
    auto* sv = edit(SCATTER_V);
    auto* sh = edit(SCATTER_H);
    middle->addLayout(row({label(QStringLiteral("x"), sv), sv, label(QStringLiteral("y"), sh), sh}));
    folder_list_ = new QListWidget;
    folder_list_->setObjectName(id_name("list", FOLDER_LIST));
    folder_list_->setMinimumWidth(220);
    middle->addWidget(label(QStringLiteral("Files in the folder"), folder_list_));
    middle->addWidget(folder_list_, 1);
    auto* folder_name = edit(FOLDER_NAME, false, 0);
    middle->addWidget(label(QStringLiteral("Folder name"), folder_name));
    middle->addWidget(folder_name);
    connect(folder_list_, &QListWidget::currentRowChanged, this, [this](int r) {
        if (!syncing_) dlg_.select_folder_entry(r);
    });
    connect(folder_list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        const int r = folder_list_->row(item);
        // The list is rebuilt by the command: leave the list's own handler first.
        QMetaObject::invokeMethod(
            this, [this, r] { forward([&] { dlg_.folder_double_click(r); }); }, Qt::QueuedConnection);
    });

    // Right column: the scan table and its commands.
    auto* right = new QVBoxLayout;
    auto* add = button(IDC_BUTTON_ADD, QStringLiteral("Add an SER file"));
    auto* remove = button(IDC_BUTTON_REMOVE, QStringLiteral("Remove an SER file"));
    auto* start = button(IDC_BUTTON_FILE_TO_FILE, QStringLiteral("Start scan"));
    connect(add, &QPushButton::clicked, this, [this] { forward([this] { dlg_.command(id::IDC_BUTTON_ADD); }); });
    connect(remove, &QPushButton::clicked, this, [this] { forward([this] { dlg_.command(id::IDC_BUTTON_REMOVE); }); });
    connect(start, &QPushButton::clicked, this, &control_panel::start_scan);
    right->addLayout(row({add, remove, start}));
    auto* at_present = edit(THRESHOLD_AT_PRESENT, true);
    right->addLayout(row({label(QStringLiteral("Threshold at present"), at_present), at_present}));
    table_view_ = new QTableView;
    table_view_->setObjectName(id_name("table", SCAN_TABLE));
    model_ = new scan_table_model(dlg_.table, this);
    table_view_->setModel(model_);
    table_view_->verticalHeader()->hide();
    table_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_view_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_view_->setShowGrid(true);
    table_view_->setWordWrap(false);
    table_view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    for (int c = 0; c < column_count; ++c) table_view_->setColumnWidth(c, columns[static_cast<std::size_t>(c)].width);
    table_view_->setMinimumWidth(480 + 2 * table_view_->frameWidth() + 20);
    table_view_->viewport()->installEventFilter(this);
    connect(table_view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!syncing_) dlg_.set_focused_row(current.isValid() ? current.row() : -1);
            });
    right->addWidget(label(QStringLiteral("SER files for scans"), table_view_));
    right->addWidget(table_view_, 1);

    columns_layout->addLayout(left);
    columns_layout->addLayout(middle);
    columns_layout->addLayout(right, 1);

    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("scan_progress"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("No scan under way"));
    progress_->setTextVisible(true);
    stop_button_ = new QPushButton(QStringLiteral("Stop scan"));
    stop_button_->setObjectName(QStringLiteral("button_stop_scan"));
    stop_button_->setEnabled(false);
    connect(stop_button_, &QPushButton::clicked, this, [this] {
        runner_.request_stop();
        stop_button_->setEnabled(false);
    });

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(inputs_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progress_, 1);
    bottom->addWidget(stop_button_);
    outer->addLayout(bottom);
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
        forward([&] { dlg_.table_double_click(p.x(), r); });
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
    dialog.move(mapToGlobal(QPoint(0, 0)));
    if (dialog.exec() != QDialog::Accepted) return false;
    text = ui.edit_1084->text().toStdString();
    return true;
}

bool control_panel::create_image_window(int client_w, int client_h) {
    image_.reset();
    image_ = std::make_unique<image_window>(dlg_, client_w, client_h);
    // Left of the panel, top edges level.
    const QRect panel = frameGeometry();
    const int frame_extra = panel.width() - geometry().width();
    image_->move(std::max(0, panel.left() - client_w - frame_extra), panel.top());
    image_->show();
    return true;
}

void control_panel::destroy_image_window() { image_.reset(); }

void control_panel::set_image_caption(const std::string& caption) {
    if (image_) image_->setWindowTitle(QString::fromStdString(caption));
}

void control_panel::repaint_image() {
    if (image_) image_->update();
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
    forward([this] { dlg_.end_batch(runner_.report()); });
    emit scan_finished();
}

void control_panel::set_locked(bool locked) {
    inputs_->setEnabled(!locked);
    stop_button_->setEnabled(locked);
}

void control_panel::shut_down() {
    if (closing_) return;
    closing_ = true;
    runner_.request_stop();
    runner_.wait();
    dlg_.command(id::IDCANCEL);
    close();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void control_panel::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    shut_down();
}

void control_panel::keyPressEvent(QKeyEvent* event) {
    // Escape ends the program as the close box does, but not in the middle of a scan.
    if (event->key() == Qt::Key_Escape && !scanning()) {
        shut_down();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace serflash::ui::qt
