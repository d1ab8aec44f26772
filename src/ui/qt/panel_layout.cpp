#include "ui/qt/control_panel.h"

#include "ui/control_ids.h"
#include "ui/qt/panel_texts.h"
#include "ui/qt/scan_table_model.h"
#include "ui/setting_table.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

// The panel's layout: which control goes where. The words come from panel_texts.h; what a
// control does when used is wired here to the panel logic.
namespace serflash::ui::qt {
namespace {

QString id_name(const char* kind, int id) { return QStringLiteral("%1_%2").arg(QLatin1String(kind)).arg(id); }

// The control's own hint, else the help and allowed values of the setting it holds.
void set_tooltip(QWidget* w, int id) {
    if (const char* tip = tooltip_for(id); tip != nullptr) {
        w->setToolTip(QString::fromLatin1(tip));
    } else if (const setting_rule* rule = setting_for_field(id); rule != nullptr) {
        w->setToolTip(QString::fromLatin1(rule->help.data(), static_cast<qsizetype>(rule->help.size())) +
                      QStringLiteral(". ") + QString::fromStdString(allowed_values(*rule)) + QStringLiteral("."));
    } else if (const setup_rule* setup = setup_for_field(id); setup != nullptr) {
        w->setToolTip(QString::fromLatin1(setup->help.data(), static_cast<qsizetype>(setup->help.size())) +
                      QStringLiteral(". Empty: not given."));
    }
}

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

QLineEdit* control_panel::edit(int id, bool read_only, int width) {
    auto* e = new QLineEdit;
    e->setObjectName(id_name("field", id));
    e->setReadOnly(read_only);
    set_tooltip(e, id);
    if (width > 0) e->setFixedWidth(width);
    connect(e, &QLineEdit::textEdited, this, [this, id](const QString& t) {
        if (syncing_) return;
        dlg_.fields.set_text(id, t.toStdString());
        check_field(id);
        model_->refresh(); // a row's verdict may follow a field (the threshold step)
    });
    edits_[id] = e;
    return e;
}

QAbstractButton* control_panel::check(int id, const QString& text) {
    auto* c = new QCheckBox(text);
    c->setObjectName(id_name("check", id));
    set_tooltip(c, id);
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
    set_tooltip(r, id);
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
    set_tooltip(b, id);
    return b;
}

QWidget* control_panel::up_down(int id, std::function<void(int delta)> stepped) {
    auto* box = new QWidget;
    box->setObjectName(id_name("updown", id));
    set_tooltip(box, id);
    auto* v = new QVBoxLayout(box);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    for (const bool up : {true, false}) {
        auto* b = new QToolButton;
        b->setObjectName(up ? QStringLiteral("up") : QStringLiteral("down"));
        b->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRepeat(true);
        b->setFixedSize(18, 11);
        if (const char* tip = tooltip_for(id); tip != nullptr) b->setToolTip(QString::fromLatin1(tip));
        // The up arrow reports a negative step, which moves forward.
        connect(b, &QToolButton::clicked, this, [this, up, stepped] { forward([&] { stepped(up ? -1 : 1); }); });
        v->addWidget(b);
    }
    return box;
}

void control_panel::build() {
    inputs_ = new QWidget;
    inputs_->setObjectName(QStringLiteral("inputs"));
    columns_ = new QGridLayout(inputs_);
    columns_->setContentsMargins(6, 6, 6, 6);
    display_column_ = build_display_column();
    settings_column_ = build_settings_column();
    scan_column_ = build_scan_column();
    columns_->addLayout(display_column_, 0, 0);
    columns_->addLayout(settings_column_, 0, 1);
    columns_->addLayout(scan_column_, 0, 2);
    columns_->setColumnStretch(2, 1);
    wide_width_ = inputs_->sizeHint().width();
    const QMargins m = columns_->contentsMargins();
    middle_width_ = display_column_->sizeHint().width() + columns_->horizontalSpacing() +
                    settings_column_->sizeHint().width() + m.left() + m.right();
    narrow_width_ = std::max({display_column_->minimumSize().width(), settings_column_->minimumSize().width(),
                              scan_column_->minimumSize().width()}) +
                    m.left() + m.right();

    // The panel shrinks below its contents (small screens, large scale factors): they scroll.
    scroll_ = new QScrollArea;
    scroll_->setObjectName(QStringLiteral("panel_scroll"));
    scroll_->setWidget(inputs_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);

    outer_ = new QVBoxLayout(this);
    outer_->setContentsMargins(0, 0, 0, 6);
    outer_->addWidget(scroll_, 1);
    auto* bar = build_status_bar();
    bar->setContentsMargins(6, 0, 6, 0);
    outer_->addLayout(bar);
}

void control_panel::arrange_columns() {
    // Narrower than the three columns side by side: the scan table goes above the other two,
    // outside the scrolling part, so that it stays in sight; narrower still, the settings go
    // below the display too. The rest then scrolls only downwards.
    const int room = width() - scroll_->verticalScrollBar()->sizeHint().width();
    const int stacking = room >= wide_width_ ? 0 : room >= middle_width_ ? 1 : 2;
    if (stacking == stacking_) return;
    stacking_ = stacking;
    for (QLayout* column : {display_column_, settings_column_}) {
        columns_->removeItem(column);
        column->setParent(nullptr); // free to be added again
    }
    columns_->removeItem(scan_column_);
    outer_->removeItem(scan_column_);
    scan_column_->setParent(nullptr);
    for (int c = 0; c < 3; ++c) columns_->setColumnStretch(c, 0);
    for (int r = 0; r < 2; ++r) columns_->setRowStretch(r, 0);
    columns_->addLayout(display_column_, 0, 0);
    columns_->addLayout(settings_column_, stacking == 2 ? 1 : 0, stacking == 2 ? 0 : 1);
    if (stacking == 0) {
        scan_column_->setContentsMargins(0, 0, 0, 0);
        columns_->addLayout(scan_column_, 0, 2);
        columns_->setColumnStretch(2, 1);
    } else {
        scan_column_->setContentsMargins(6, 6, 6, 0);
        outer_->insertLayout(0, scan_column_);
        columns_->setColumnStretch(stacking == 2 ? 0 : 1, 1);
    }
}

// Left column: display, frames, thresholds and manual masks.
QLayout* control_panel::build_display_column() {
    using namespace serflash::ui::id;

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
    auto* zoom_grid = new QGridLayout(zoom_box);
    auto* zoom_group = new QButtonGroup(this);
    // Two rows: fitting and enlarging, then the sizes that drop pixels.
    const std::pair<int, const char*> zooms[] = {
        {ZOOM_FIT, "Fit to window"}, {ZOOM_400, "400%"}, {ZOOM_200, "200%"}, {ZOOM_100, "100%"},
        {ZOOM_50, " 50%"},           {ZOOM_33, " 33%"},  {ZOOM_25, " 25%"}};
    int slot = 0;
    for (const auto& [zid, text] : zooms) {
        auto* r = radio(zid, QString::fromLatin1(text), true);
        zoom_group->addButton(r);
        connect(r, &QAbstractButton::toggled, this, [this](bool on) {
            if (on && !syncing_) forward([this] { dlg_.zoom_changed(); });
        });
        zoom_grid->addWidget(r, slot < 3 ? 0 : 1, slot < 3 ? slot : slot - 3);
        ++slot;
    }
    zoom_grid->setColumnStretch(4, 1);
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
    connect(frame_no, &QLineEdit::returnPressed, this, [this] { forward([this] { dlg_.command(id::SHOW_FRAME); }); });
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
    return left;
}

// Middle column: automatic masks, scatter, folder list.
QLayout* control_panel::build_settings_column() {
    using namespace serflash::ui::id;
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
    middle->addWidget(check(CONTINUE_AFTER_SCATTER, QStringLiteral("Continue after a scattered frame")));
    middle->addWidget(check(EXAMINE_EVERY_FRAME, QStringLiteral("Examine every frame")));
    auto* snapshot_group = new QButtonGroup(this);
    auto* snapshot_row = row({label(QStringLiteral("Snapshots"))}, false);
    const std::pair<int, const char*> formats[] = {
        {SNAPSHOTS_BMP, "BMP"}, {SNAPSHOTS_PNG, "PNG"}, {SNAPSHOTS_NONE, "none"}};
    for (const auto& [fid, text] : formats) {
        auto* r = radio(fid, QString::fromLatin1(text), false);
        snapshot_group->addButton(r);
        snapshot_row->addWidget(r);
    }
    snapshot_row->addStretch(1);
    middle->addLayout(snapshot_row);
    // Where the video was taken and how the image is turned, for the candidates' places on the Moon.
    auto* moon_box = new QGroupBox(QStringLiteral("The Moon (places of the candidates)"));
    auto* moon_grid = new QGridLayout(moon_box);
    auto* site = edit(SITE, false, 150);
    site->setPlaceholderText(QStringLiteral("lat,lon,height m"));
    auto* rotation = edit(ROTATION, false, 60);
    rotation->setPlaceholderText(QStringLiteral("measured"));
    moon_grid->addWidget(label(QStringLiteral("Site"), site), 0, 0);
    moon_grid->addWidget(site, 0, 1, 1, 2);
    moon_grid->addWidget(label(QStringLiteral("Rotation"), rotation), 1, 0);
    moon_grid->addWidget(rotation, 1, 1);
    moon_grid->addWidget(label(QStringLiteral("deg")), 1, 2);
    moon_grid->addWidget(check(MIRROR, QStringLiteral("Mirrored image")), 2, 0, 1, 3);
    moon_grid->setColumnStretch(3, 1);
    middle->addWidget(moon_box);
    folder_list_ = new QListWidget;
    folder_list_->setObjectName(id_name("list", FOLDER_LIST));
    folder_list_->setMinimumWidth(160);
    folder_list_->setToolTip(
        QStringLiteral("Double-click or Return adds a file to the scan table (or lists a folder)"));
    folder_list_->installEventFilter(this);
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

    return middle;
}

// Right column: the scan table and its commands.
QLayout* control_panel::build_scan_column() {
    using namespace serflash::ui::id;
    // Right column: the scan table and its commands.
    auto* right = new QVBoxLayout;
    auto* add = button(IDC_BUTTON_ADD, QStringLiteral("Add an SER file"));
    auto* remove = button(IDC_BUTTON_REMOVE, QStringLiteral("Remove an SER file"));
    remove->setEnabled(false); // until a row is chosen
    remove_button_ = remove;
    auto* start = button(IDC_BUTTON_FILE_TO_FILE, QStringLiteral("Start scan"));
    connect(add, &QPushButton::clicked, this, [this] { forward([this] { dlg_.command(id::IDC_BUTTON_ADD); }); });
    connect(remove, &QPushButton::clicked, this, [this] { forward([this] { dlg_.command(id::IDC_BUTTON_REMOVE); }); });
    connect(start, &QPushButton::clicked, this, &control_panel::start_scan);
    auto* review = new QPushButton(QStringLiteral("Review results..."));
    review->setObjectName(QStringLiteral("button_review"));
    review->setAutoDefault(false);
    review->setToolTip(QStringLiteral("Open the Candidates window for one or more results folders"));
    connect(review, &QPushButton::clicked, this, &control_panel::choose_review_folders);
    right->addLayout(row({add, remove, start, review}));
    auto* at_present = edit(THRESHOLD_AT_PRESENT, true);
    right->addLayout(row({label(QStringLiteral("Threshold at present"), at_present), at_present}));
    table_view_ = new QTableView;
    table_view_->setObjectName(id_name("table", SCAN_TABLE));
    model_ = new scan_table_model(dlg_.table, dlg_.fields, this);
    table_view_->setModel(model_);
    table_view_->verticalHeader()->hide();
    table_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_view_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_view_->setShowGrid(true);
    table_view_->setWordWrap(false);
    const int row_height = fontMetrics().height() + 4;
    table_view_->verticalHeader()->setDefaultSectionSize(row_height);
    // Wide enough for a value of six digits ("100000") and each header.
    int table_width = 0;
    for (int c = 0; c < column_count; ++c) {
        const auto& info = columns[static_cast<std::size_t>(c)];
        int w = info.width;
        if (c >= col_frames)
            w = std::max({w, fontMetrics().horizontalAdvance(QStringLiteral("1000000")),
                          fontMetrics().horizontalAdvance(QString::fromLatin1(info.header)) + 16});
        table_view_->setColumnWidth(c, w);
        table_width += w;
    }
    // Narrower than its columns it scrolls sideways by itself, so the panel can stack narrow.
    table_view_->setMinimumWidth(std::min(table_width, 320) + 2 * table_view_->frameWidth());
    // The header and at least five rows, on any screen.
    table_view_->setMinimumHeight(table_view_->horizontalHeader()->sizeHint().height() + 5 * row_height +
                                  2 * table_view_->frameWidth() +
                                  table_view_->horizontalScrollBar()->sizeHint().height());
    table_view_->viewport()->installEventFilter(this);
    table_view_->installEventFilter(this);
    connect(table_view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (syncing_) return;
                dlg_.set_focused_row(current.isValid() ? current.row() : -1);
                remove_button_->setEnabled(current.isValid() && current.row() < dlg_.table.list_file);
            });
    right->addWidget(label(QStringLiteral("SER files for scans"), table_view_));
    right->addWidget(table_view_, 1);
    return right;
}

// Below the columns, outside the scrolling area: progress, "Stop scan" and the status line.
QLayout* control_panel::build_status_bar() {
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

    // One line; what lies behind it is in the "Scan details" window.
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("scan_status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(false);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    details_button_ = new QPushButton(QStringLiteral("Details..."));
    details_button_->setObjectName(QStringLiteral("button_details"));
    details_button_->setAutoDefault(false);
    details_button_->setEnabled(false);
    details_button_->setToolTip(QStringLiteral("Everything the last scan found and told, file by file"));
    details_ = std::make_unique<QPlainTextEdit>();
    details_->setObjectName(QStringLiteral("scan_details"));
    details_->setWindowTitle(QStringLiteral("Scan details"));
    details_->setReadOnly(true);
    details_->resize(560, 300);
    connect(details_button_, &QPushButton::clicked, this, [this] {
        details_->show();
        details_->raise();
    });
    auto* bar = new QVBoxLayout;
    auto* progress_row = new QHBoxLayout;
    progress_row->addWidget(progress_, 1);
    progress_row->addWidget(stop_button_);
    bar->addLayout(progress_row);
    auto* status_row = new QHBoxLayout;
    status_row->addWidget(status_, 1);
    status_row->addWidget(details_button_);
    bar->addLayout(status_row);
    return bar;
}

} // namespace serflash::ui::qt
