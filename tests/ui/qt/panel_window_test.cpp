// Drives the real control panel and image window on the offscreen platform.
#include "platform/file_io.h"
#include "ser/ser_writer.h"
#include "ui/control_ids.h"
#include "ui/folder_list.h"
#include "ui/panel_settings.h"
#include "ui/qt/control_panel.h"
#include "ui/qt/image_window.h"
#include "ui/qt/review_window.h"
#include "qt_test_support.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialog>
#include <QCheckBox>
#include <QDir>
#include <QScrollBar>
#include <QWheelEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <semaphore>

namespace serflash::ui::qt {
namespace {

using namespace testing;

std::filesystem::path relative_tree(const std::filesystem::path& root, std::vector<std::string>& names) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        names.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(names.begin(), names.end());
    return root;
}

QByteArray read_all(const std::filesystem::path& p) {
    QFile f(QString::fromStdString(p.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Holds a run at its first progress report until released or told to stop (at the latest when
// it goes out of scope, so that a failed check never leaves the scanning thread waiting).
class scan_hold {
public:
    explicit scan_hold(batch_thread& runner) {
        runner.set_progress_observer([this, &runner](const detect::scan_progress&) {
            if (holding_.exchange(true)) return;
            while (!gate_.try_acquire_for(std::chrono::milliseconds(5)))
                if (runner.stop_requested()) return;
        });
    }
    ~scan_hold() { release(); }
    bool holding() const { return holding_; }
    void release() {
        if (!released_.exchange(true)) gate_.release();
    }

private:
    std::binary_semaphore gate_{0};
    std::atomic<bool> holding_{false}, released_{false};
};

} // namespace

class panel_window_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<control_panel> panel_;
    std::string ser_path_;

    QLineEdit* field(int id) { return panel_->findChild<QLineEdit*>(QStringLiteral("field_%1").arg(id)); }
    template <class T>
    T* control(const QString& name) {
        auto* w = panel_->findChild<T*>(name);
        if (w == nullptr) qWarning() << "no control" << name;
        return w;
    }
    QAbstractItemModel* table_model() { return control<QTableView>(QStringLiteral("table_1076"))->model(); }
    // The middle of cell (row, col) in the table's viewport.
    QPoint cell_point(int row, int col) {
        auto* view = control<QTableView>(QStringLiteral("table_1076"));
        return view->visualRect(table_model()->index(row, col)).center();
    }
    // Lets a held run go on, accepts the closing box when it comes, and gives its "title|text".
    QString accept_closing_box_after(scan_hold& hold, QSignalSpy& finished) {
        QString closing;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->objectName() != QStringLiteral("message_box")) return;
            closing = message_text(box);
            box->accept();
        });
        watch.start(20);
        hold.release();
        if (!finished.wait(120000)) return QStringLiteral("no end of the scan");
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 5000))
            return QStringLiteral("a box is left open");
        return closing;
    }
    void double_click_cell(int row, int col) {
        QTest::mouseDClick(control<QTableView>(QStringLiteral("table_1076"))->viewport(), Qt::LeftButton,
                           Qt::NoModifier, cell_point(row, col));
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(QDir::setCurrent(dir_->path()));
        ser_path_ = (std::filesystem::path(dir_->path().toStdString()) / "m1.ser").string();
        QVERIFY(write_ser(ser_path_, 64, 48, 60));
        panel_ = std::make_unique<control_panel>(native_folder_access(), platform::native_file_system(), false);
        panel_->set_review_after_scan(false);
        panel_->logic().set_auto_levels(false); // these checks read the row's Brt rendering
        panel_->show();
    }
    void cleanup() {
        panel_.reset();
        QDir::setCurrent(QDir::tempPath());
        dir_.reset();
    }

    void add_file_and_step_frames() {
        QCOMPARE(field(id::FOLDER_NAME)->text(), QDir::current().canonicalPath());
        auto* list = control<QListWidget>(QStringLiteral("list_1072"));
        QVERIFY(!list->findItems(QStringLiteral("m1.ser"), Qt::MatchExactly).isEmpty());
        QVERIFY(!list->findItems(QStringLiteral("[-/-]"), Qt::MatchExactly).isEmpty());
        panel_->add_path(ser_path_);
        QCOMPARE(table_model()->rowCount(), 1);
        QCOMPARE(table_model()->index(0, 1).data().toString(), QStringLiteral("m1.ser"));
        QCOMPARE(table_model()->index(0, 9).data().toString(), QStringLiteral("4"));
        QCOMPARE(field(id::IMAGE_WIDTH)->text(), QStringLiteral("64"));
        image_window* image = panel_->image();
        QVERIFY(image != nullptr);
        QCOMPARE(image->windowTitle(), QString::fromStdString(ser_path_) + QStringLiteral(" - frame 0"));
        QCOMPARE(image->canvas()->size(), QSize(64, 48)); // fitted, at most 100%: no white strips
        QVERIFY(!image->scroller()->horizontalScrollBar()->isVisible());

        auto* up_1 = control<QWidget>(QStringLiteral("updown_1126"))->findChild<QToolButton*>(QStringLiteral("up"));
        QTest::mouseClick(up_1, Qt::LeftButton);
        QTest::mouseClick(up_1, Qt::LeftButton);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("2"));
        QCOMPARE(panel_->logic().frame_buf()[5 * 64 + 3], sample(2, 3, 5));
        auto* up_50 = control<QWidget>(QStringLiteral("updown_1083"))->findChild<QToolButton*>(QStringLiteral("up"));
        QTest::mouseClick(up_50, Qt::LeftButton);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("52"));
        QTest::mouseClick(up_50, Qt::LeftButton);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("59")); // the last frame
        auto* down_500 =
            control<QWidget>(QStringLiteral("updown_1085"))->findChild<QToolButton*>(QStringLiteral("down"));
        QTest::mouseClick(down_500, Qt::LeftButton);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("0"));

        field(id::FRAME_NO)->clear();
        QTest::keyClicks(field(id::FRAME_NO), QStringLiteral("37"));
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1002")), Qt::LeftButton);
        QCOMPARE(panel_->logic().frame_buf()[30 * 64 + 40], 9000);
        // The frame shows at 100%: Brt 4 maps 9000 to grey 36.
        const QImage shown = image->canvas()->grab().toImage();
        QCOMPARE(shown.pixel(40, 30) & 0xFFFFFFU, 0x242424U);
        QCOMPARE(shown.size(), QSize(64, 48)); // no white strips right of and below the frame
        QVERIFY((shown.pixel(63, 47) & 0xFFFFFFU) != 0xFFFFFFU);

        auto* shift_up = control<QWidget>(QStringLiteral("updown_1128"))->findChild<QToolButton*>(QStringLiteral("up"));
        QTest::mouseClick(shift_up, Qt::LeftButton);
        QCOMPARE(field(id::BIT_SHIFT)->text(), QStringLiteral("1"));
        QCOMPARE(panel_->logic().frame_buf()[30 * 64 + 40], 4500);
    }

    void edit_a_value_through_the_dialog() {
        panel_->add_path(ser_path_);
        auto* view = control<QTableView>(QStringLiteral("table_1076"));
        QString shown;
        answer_modal([&shown](QWidget* modal) {
            QCOMPARE(modal->windowTitle(), QStringLiteral("Enter a new value"));
            auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("edit_1084"));
            shown = edit->text();
            edit->setText(QStringLiteral("250"));
            QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("button_ok")), Qt::LeftButton);
        });
        double_click_cell(0, 9);
        QCOMPARE(shown, QStringLiteral("4"));
        QCOMPARE(table_model()->index(0, 9).data().toString(), QStringLiteral("250"));

        // The old text is selected, so typing replaces it; the dialog names the file and the
        // column and opens at the cell (in sight on a small screen too).
        control<QScrollArea>(QStringLiteral("panel_scroll"))->ensureWidgetVisible(view, 0, 0);
        QString selected, names;
        QPoint dialog_at;
        answer_modal([&](QWidget* modal) {
            auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("edit_1084"));
            selected = edit->selectedText();
            names = modal->findChild<QLabel*>(QStringLiteral("cell_text"))->text();
            dialog_at = modal->frameGeometry().topLeft();
            QTest::keyClicks(edit, QStringLiteral("60"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        double_click_cell(0, 9);
        QCOMPARE(selected, QStringLiteral("250"));
        QVERIFY2(names.contains(QStringLiteral("m1.ser")) && names.contains(QStringLiteral("Brt")), qPrintable(names));
        const QPoint cell = view->viewport()->mapToGlobal(view->visualRect(table_model()->index(0, 9)).bottomLeft());
        // Near the cell; on a small screen it is kept on the screen, which may move it up a little.
        QVERIFY2(
            (dialog_at - cell).manhattanLength() < 160,
            qPrintable(
                QStringLiteral("%1,%2 vs %3,%4").arg(dialog_at.x()).arg(dialog_at.y()).arg(cell.x()).arg(cell.y())));
        QCOMPARE(table_model()->index(0, 9).data().toString(), QStringLiteral("60"));

        // A stop beyond the last frame cannot be confirmed, and the dialog says why; a word in
        // Max neither. Cancel keeps the cell.
        struct verdict {
            bool ok_enabled = true;
            QString allowed, problem;
        };
        const auto try_value = [&](int col, const QString& typed) {
            verdict v;
            answer_modal([&v, typed](QWidget* modal) {
                auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("edit_1084"));
                type_into(edit, typed);
                QTest::keyClick(edit, Qt::Key_Return); // refused while OK is off
                v.ok_enabled = modal->findChild<QPushButton*>(QStringLiteral("button_ok"))->isEnabled();
                v.allowed = modal->findChild<QLabel*>(QStringLiteral("allowed_text"))->text();
                v.problem = modal->findChild<QLabel*>(QStringLiteral("problem_text"))->text();
                if (modal->isVisible())
                    QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("button_cancel")), Qt::LeftButton);
            });
            double_click_cell(0, col);
            return v;
        };
        verdict stop = try_value(4, QStringLiteral("60"));
        QVERIFY(!stop.ok_enabled);
        QVERIFY2(stop.problem.contains(QStringLiteral("at most 59")), qPrintable(stop.problem));
        QCOMPARE(table_model()->index(0, 4).data().toString(), QStringLiteral("59"));
        verdict max = try_value(5, QStringLiteral("abc"));
        QVERIFY(!max.ok_enabled);
        QCOMPARE(max.allowed, QStringLiteral("Allowed: a whole number of at least 1."));
        QCOMPARE(max.problem, QStringLiteral("Max must be a whole number of at least 1, not \"abc\"."));
        QCOMPARE(table_model()->index(0, 5).data().toString(), QStringLiteral("1"));
        verdict fine = try_value(5, QStringLiteral("10")); // allowed: Return confirms it
        QVERIFY(fine.ok_enabled && fine.problem.isEmpty());
        QCOMPARE(table_model()->index(0, 5).data().toString(), QStringLiteral("10"));
    }

    // A field is checked as it is typed, by the command line's rules; a row that cannot be
    // scanned is marked in the table before Start, with the reason.
    void values_are_checked_as_they_are_typed() {
        panel_->add_path(ser_path_);
        auto* threshold = field(id::INITIAL_THRESHOLD);
        type_into(threshold, QStringLiteral("abc"));
        QVERIFY2(threshold->toolTip().startsWith(
                     QStringLiteral("Initial threshold must be a whole number from 45 to 10000")),
                 qPrintable(threshold->toolTip()));
        QVERIFY(!threshold->styleSheet().isEmpty());
        QVERIFY(control<QLabel>(QStringLiteral("scan_status"))->text().contains(QStringLiteral("Initial threshold")));
        type_into(threshold, QStringLiteral("55"));
        QVERIFY(threshold->styleSheet().isEmpty());
        // The set-up fields follow the command line's rules for --site and --rotation.
        auto* site = field(id::SITE);
        type_into(site, QStringLiteral("48.2,16.4"));
        QVERIFY2(site->toolTip().startsWith(QStringLiteral("Site 48.2,16.4: ")), qPrintable(site->toolTip()));
        QVERIFY(!site->styleSheet().isEmpty());
        type_into(site, QStringLiteral("48.2,16.4,200"));
        QVERIFY(site->styleSheet().isEmpty());
        auto* rotation = field(id::ROTATION);
        type_into(rotation, QStringLiteral("north"));
        QVERIFY2(rotation->toolTip().startsWith(QStringLiteral("Rotation must be a number of degrees")),
                 qPrintable(rotation->toolTip()));
        rotation->selectAll();
        QTest::keyClick(rotation, Qt::Key_Backspace); // emptied: not given
        QVERIFY(rotation->styleSheet().isEmpty());

        QVERIFY(!table_model()->index(0, 1).data(Qt::ForegroundRole).isValid());
        type_into(field(id::THRESHOLD_STEP), QStringLiteral("0"));
        QVERIFY(table_model()->index(0, 1).data(Qt::ForegroundRole).isValid()); // marked at once
        QVERIFY2(table_model()->index(0, 1).data(Qt::ToolTipRole).toString().contains(QStringLiteral("step")),
                 qPrintable(table_model()->index(0, 1).data(Qt::ToolTipRole).toString()));
        QString refusal;
        answer_modal([&refusal](QWidget* modal) {
            refusal = message_text(modal);
            static_cast<QDialog*>(modal)->accept();
        });
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QVERIFY2(refusal.startsWith(QStringLiteral("Start scan|The scan cannot start:")), qPrintable(refusal));
        QVERIFY(!panel_->scanning());
        type_into(field(id::THRESHOLD_STEP), QStringLiteral("3"));
        QVERIFY(!table_model()->index(0, 1).data(Qt::ForegroundRole).isValid());
    }

    void drag_a_mask_rectangle() {
        control<QAbstractButton>(QStringLiteral("radio_1121"))->click(); // mask 1, tied to the top right
        panel_->add_path(ser_path_);
        control<QAbstractButton>(QStringLiteral("radio_1117"))->click(); // 50%, for this file
        image_window* image = panel_->image();
        QVERIFY(image != nullptr);
        QCOMPARE(image->canvas()->size(), QSize(32, 24));
        QWidget* canvas = image->canvas();
        const QImage before = canvas->grab().toImage();
        send_mouse(canvas, QEvent::MouseButtonPress, {5, 6}, Qt::RightButton, Qt::RightButton);
        QCOMPARE(field(1104)->text(), QString());
        QCOMPARE(field(1106)->text(), QStringLiteral("63"));
        send_mouse(canvas, QEvent::MouseMove, {10, 12}, Qt::NoButton, Qt::RightButton);
        QCOMPARE(field(id::READOUT_X)->text(), QStringLiteral("20"));
        QCOMPARE(field(id::READOUT_Y)->text(), QStringLiteral("24"));
        QCOMPARE(field(id::READOUT_VALUE)->text(), QString::asprintf("%6d", sample(0, 20, 24)));
        send_mouse(canvas, QEvent::MouseButtonRelease, {200, 12}, Qt::RightButton, Qt::NoButton); // outside
        QCOMPARE(field(1104)->text(), QString());
        send_mouse(canvas, QEvent::MouseButtonRelease, {10, 12}, Qt::RightButton, Qt::NoButton);
        QCOMPARE(field(1104)->text(), QStringLiteral("20"));
        QCOMPARE(field(1105)->text(), QStringLiteral("0"));
        QCOMPARE(field(1106)->text(), QStringLiteral("63"));
        QCOMPARE(field(1107)->text(), QStringLiteral("24"));

        // The outline from the mask's corner (31, 0) to (10, 12) inverts what lies under it.
        const QImage after = canvas->grab().toImage();
        QCOMPARE(after.pixel(20, 12) & 0xFFFFFFU, ~before.pixel(20, 12) & 0xFFFFFFU);
        QCOMPARE(after.pixel(10, 5) & 0xFFFFFFU, ~before.pixel(10, 5) & 0xFFFFFFU);
        QCOMPARE(after.pixel(20, 6), before.pixel(20, 6));

        // Shown as a mask outline at the next frame paint; the drag's outline is gone then.
        control<QAbstractButton>(QStringLiteral("check_1125"))->click();
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1002")), Qt::LeftButton);
        const QImage masks = canvas->grab().toImage();
        QCOMPARE(masks.pixel(20, 12) & 0xFFFFFFU, ~before.pixel(20, 12) & 0xFFFFFFU);
        QCOMPARE(masks.pixel(0, 0) & 0xFFFFFFU, ~before.pixel(0, 0) & 0xFFFFFFU); // masks 0, 2, 3 at the corners
        control<QAbstractButton>(QStringLiteral("check_1125"))->click();
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1002")), Qt::LeftButton);
        QCOMPARE(canvas->grab().toImage(), before);
    }

    void auto_levels_and_the_brt_button() {
        panel_->logic().set_auto_levels(true);
        panel_->add_path(ser_path_);
        image_window* image = panel_->image();
        auto* auto_levels = image->findChild<QCheckBox*>(QStringLiteral("check_auto_levels"));
        QVERIFY(auto_levels->isChecked());
        type_into(field(id::FRAME_NO), QStringLiteral("37"));
        QTest::keyClick(field(id::FRAME_NO), Qt::Key_Return); // Return shows the frame
        QCOMPARE(panel_->logic().cur_frame(), 37);
        // Stretched: the flash is white and the ramp spreads over the greys instead of 4..4.4.
        QImage shown = image->canvas()->grab().toImage();
        QCOMPARE(shown.pixel(40, 30) & 0xFFFFFFU, 0xFFFFFFU);
        int darkest = 255, brightest = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                if (x == 40 && y == 30) continue;
                darkest = std::min(darkest, qRed(shown.pixel(x, y)));
                brightest = std::max(brightest, qRed(shown.pixel(x, y)));
            }
        QVERIFY2(darkest < 20 && brightest > 200, qPrintable(QStringLiteral("%1..%2").arg(darkest).arg(brightest)));

        // Off: exactly the row's Brt rendering the snapshots use.
        QTest::mouseClick(auto_levels, Qt::LeftButton);
        QVERIFY(!panel_->logic().auto_levels());
        const auto frame = panel_->logic().frame_buf();
        const auto expect_brt = [&](int brightness) {
            display::display_bitmap bmp;
            QVERIFY(display::prep_for_display(bmp, 64, 48));
            display::render_levels levels;
            levels.brightness = brightness;
            levels.blue_level = 500;
            levels.red_level = 3800;
            display::render_frame(bmp, frame, levels, false);
            const QImage now = image->canvas()->grab().toImage();
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x) {
                    const std::uint8_t* px = &bmp.disp_buf[static_cast<std::size_t>(4 * (y * 64 + x))];
                    const QRgb want = qRgb(px[2], px[1], px[0]);
                    if ((now.pixel(x, y) & 0xFFFFFFU) != (want & 0xFFFFFFU))
                        QFAIL(qPrintable(QStringLiteral("pixel %1,%2 at Brt %3").arg(x).arg(y).arg(brightness)));
                }
        };
        expect_brt(4);
        if (QTest::currentTestFailed()) return;

        // The Brt button sets the row's Brt from the frame's bright level, for the snapshots too.
        const auto levels = display::frame_levels(frame);
        QTest::mouseClick(image->findChild<QPushButton*>(QStringLiteral("button_brt_from_levels")), Qt::LeftButton);
        const int brt = display::brightness_for_high(levels.high);
        QVERIFY(brt > 4);
        QCOMPARE(table_model()->index(0, 9).data().toString(), QString::number(brt));
        expect_brt(brt);
        QVERIFY(panel_->runner().running() == false);
        detect::scan_job job = jobs_from_table(panel_->logic().table, panel_->logic().fields, 0)[0];
        QCOMPARE(job.settings.brightness, brt);
    }

    void keys_and_the_wheel_step_frames() {
        panel_->add_path(ser_path_);
        image_window* image = panel_->image();
        QTest::keyClick(image, Qt::Key_Right);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("1"));
        QTest::keyClick(image, Qt::Key_PageDown);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("51"));
        QTest::keyClick(image, Qt::Key_PageDown);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("59"));
        QTest::keyClick(image, Qt::Key_PageUp);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("9"));
        QTest::keyClick(image, Qt::Key_Left);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("8"));
        QCOMPARE(panel_->logic().frame_buf()[5 * 64 + 3], sample(8, 3, 5));
        QWheelEvent towards_user(QPointF(5, 5), image->canvas()->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -240),
                                 Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(image->canvas(), &towards_user);
        QCOMPARE(field(id::FRAME_NO)->text(), QStringLiteral("10"));
    }

    void unlabeled_controls_have_tooltips() {
        const std::pair<int, const char*> wanted[] = {{id::STEP_1, "+1"},
                                                      {id::STEP_50, "+50"},
                                                      {id::STEP_500, "+500"},
                                                      {id::STEP_5000, "+5000"},
                                                      {id::BIT_SHIFT_STEPPER, "Bit shift"}};
        for (const auto& [sid, text] : wanted) {
            auto* box = control<QWidget>(QStringLiteral("updown_%1").arg(sid));
            for (auto* b : box->findChildren<QToolButton*>())
                QVERIFY2(b->toolTip().contains(QLatin1String(text)), qPrintable(b->toolTip()));
        }
        const char* corners[] = {"top left", "top right", "bottom left", "bottom right"};
        for (int m = 0; m < 4; ++m) {
            const QString tip = control<QWidget>(QStringLiteral("radio_%1").arg(id::MASK_SELECT_0 + m))->toolTip();
            QVERIFY2(tip.contains(QLatin1String(corners[m])), qPrintable(tip));
        }
        auto* scatter = control<QAbstractButton>(QStringLiteral("check_%1").arg(id::CONTINUE_AFTER_SCATTER));
        QCOMPARE(scatter->text(), QStringLiteral("Continue after a scattered frame"));
        QVERIFY(!scatter->isChecked());
        scatter->click();
        QVERIFY(jobs_from_table(panel_->logic().table, panel_->logic().fields, 0).empty()); // no row yet
        panel_->add_path(ser_path_);
        QVERIFY(jobs_from_table(panel_->logic().table, panel_->logic().fields, 0)[0].settings.continue_after_scatter);
        // "Examine every frame": off at start, and the scan's pass over every frame when on.
        auto* every = control<QAbstractButton>(QStringLiteral("check_%1").arg(id::EXAMINE_EVERY_FRAME));
        QCOMPARE(every->text(), QStringLiteral("Examine every frame"));
        QVERIFY(!every->isChecked());
        QVERIFY(!jobs_from_table(panel_->logic().table, panel_->logic().fields, 0)[0].settings.complete);
        every->click();
        QVERIFY(jobs_from_table(panel_->logic().table, panel_->logic().fields, 0)[0].settings.complete);
        QVERIFY(every->toolTip().contains(QLatin1String("every frame")));

        // Snapshots: BMP at start, one format at a time.
        const auto snapshots = [this] {
            return jobs_from_table(panel_->logic().table, panel_->logic().fields, 0)[0].settings.snapshots;
        };
        auto* bmp = control<QAbstractButton>(QStringLiteral("radio_%1").arg(id::SNAPSHOTS_BMP));
        auto* png = control<QAbstractButton>(QStringLiteral("radio_%1").arg(id::SNAPSHOTS_PNG));
        auto* none = control<QAbstractButton>(QStringLiteral("radio_%1").arg(id::SNAPSHOTS_NONE));
        QVERIFY(bmp->isChecked() && !png->isChecked() && !none->isChecked());
        QCOMPARE(snapshots(), detect::snapshot_format::bmp);
        png->click();
        QVERIFY(!bmp->isChecked());
        QCOMPARE(snapshots(), detect::snapshot_format::png);
        none->click();
        QVERIFY(!png->isChecked());
        QCOMPARE(snapshots(), detect::snapshot_format::none);
        QVERIFY(none->toolTip().contains(QLatin1String("no picture files")));
    }

    void a_file_that_is_not_ser_is_refused() {
        const std::string notes = (std::filesystem::path(dir_->path().toStdString()) / "notes.ser").string();
        {
            std::ofstream out(notes, std::ios::binary);
            for (int i = 0; i < 50; ++i) out << "These are an observer's notes, not a video.\n";
        }
        QString shown;
        answer_modal([&shown](QWidget* modal) {
            shown = message_text(modal);
            static_cast<QDialog*>(modal)->accept();
        });
        panel_->add_path(notes);
        QVERIFY2(shown.contains(QStringLiteral("is not a SER file")), qPrintable(shown));
        QCOMPARE(table_model()->rowCount(), 0);
        QCOMPARE(panel_->image(), nullptr);
    }

    // A generated file with stars, hot pixels and two flashes, written by the command-line program.
    std::string synth(const std::string& name, int frames) {
        const std::string path = (std::filesystem::path(dir_->path().toStdString()) / name).string();
        QProcess p;
        p.start(QStringLiteral(SERFLASH_CLI),
                {QStringLiteral("synth"), QString::fromStdString(path), QStringLiteral("--width"),
                 QStringLiteral("160"), QStringLiteral("--height"), QStringLiteral("120"), QStringLiteral("--frames"),
                 QString::number(frames), QStringLiteral("--flash"), QStringLiteral("60,50,90"),
                 QStringLiteral("--flash"), QStringLiteral("100,70,230,900")});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) qWarning() << p.readAllStandardError();
        return path;
    }

    void scan_results_match_the_command_line_program() {
        const std::string path = synth("m3.ser", 300);
        control<QAbstractButton>(QStringLiteral("radio_1121"))->click();
        panel_->add_path(path);
        QWidget* canvas = panel_->image()->canvas();
        send_mouse(canvas, QEvent::MouseButtonPress, {130, 20}, Qt::RightButton, Qt::RightButton);
        send_mouse(canvas, QEvent::MouseButtonRelease, {120, 30}, Qt::RightButton, Qt::NoButton);
        field(id::INITIAL_THRESHOLD)->clear();
        QTest::keyClicks(field(id::INITIAL_THRESHOLD), QStringLiteral("50"));
        control<QAbstractButton>(QStringLiteral("check_1068"))->click(); // mask stars
        type_into(field(id::SITE), QStringLiteral("48.2,16.4,200"));     // where and how it was seen
        type_into(field(id::ROTATION), QStringLiteral("164"));
        control<QAbstractButton>(QStringLiteral("check_%1").arg(id::MIRROR))->click();
        QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
        QString closing;
        answer_modal([&closing](QWidget* modal) {
            closing = message_text(modal);
            static_cast<QDialog*>(modal)->accept();
        });
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QVERIFY(panel_->scanning());
        QVERIFY(!control<QWidget>(QStringLiteral("inputs"))->isEnabled());
        QVERIFY(panel_->image() != nullptr); // the frame last shown stays in sight
        QVERIFY(finished.wait(120000));
        QVERIFY2(closing.startsWith(QStringLiteral("Scan finished|Scan finished: 1 file, ")), qPrintable(closing));
        QVERIFY(control<QWidget>(QStringLiteral("inputs"))->isEnabled());
        // The file on display is marked with an icon and bold, not a "1".
        QCOMPARE(table_model()->index(0, 0).data().toString(), QString());
        QVERIFY(table_model()->index(0, 0).data(Qt::DecorationRole).isValid());
        QVERIFY(table_model()->index(0, 1).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(!field(id::THRESHOLD_AT_PRESENT)->text().isEmpty());
        QVERIFY(panel_->runner().report().all_scanned());
        const QString status = control<QLabel>(QStringLiteral("scan_status"))->text();
        QVERIFY2(status.startsWith(QStringLiteral("Scan finished: 1 file, ")), qPrintable(status));
        const QString details = static_cast<QPlainTextEdit*>(panel_->details_window())->toPlainText();
        QVERIFY2(details.contains(QStringLiteral("Results_m3_s")) &&
                     details.contains(QStringLiteral("frames 0 to 299 examined")),
                 qPrintable(details));
        auto* progress = control<QProgressBar>(QStringLiteral("scan_progress"));
        QCOMPARE(progress->value(), progress->maximum()); // every file and pass done
        // The scanned file is on display again and "Show frame" works at once.
        QVERIFY(panel_->image() != nullptr);
        type_into(field(id::FRAME_NO), QStringLiteral("90"));
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1002")), Qt::LeftButton);
        QCOMPARE(panel_->logic().cur_frame(), 90);

        const std::filesystem::path gui_root = dir_->path().toStdString();
        std::vector<std::string> gui_names;
        relative_tree(gui_root, gui_names);
        std::erase_if(gui_names, [](const std::string& n) { return n.ends_with(".ser"); });
        QVERIFY(gui_names.size() >= 3); // the folder, its summary and at least one snapshot

        QProcess help;
        help.start(QStringLiteral(SERFLASH_CLI), {QStringLiteral("scan"), QStringLiteral("--help")});
        QVERIFY(help.waitForFinished(60000));
        if (help.exitCode() != 0 || help.readAllStandardOutput().contains("not yet available"))
            QSKIP("this build's command-line program cannot scan yet");

        QTemporaryDir cli_dir;
        const std::filesystem::path cli_root = cli_dir.path().toStdString();
        std::filesystem::copy_file(path, cli_root / "m3.ser");
        QProcess cli;
        cli.setWorkingDirectory(cli_dir.path());
        cli.start(QStringLiteral(SERFLASH_CLI),
                  {QStringLiteral("scan"), QStringLiteral("m3.ser"), QStringLiteral("--threshold"),
                   QStringLiteral("50"), QStringLiteral("--mask-stars"), QStringLiteral("--mask1"),
                   QStringLiteral("120,0,159,30"), QStringLiteral("--site"), QStringLiteral("48.2,16.4,200"),
                   QStringLiteral("--rotation"), QStringLiteral("164"), QStringLiteral("--mirror")});
        QVERIFY(cli.waitForFinished(120000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        std::vector<std::string> cli_names;
        relative_tree(cli_root, cli_names);
        std::erase_if(cli_names, [](const std::string& n) { return n.ends_with(".ser"); });
        QCOMPARE(gui_names, cli_names);
        const auto json = std::find_if(gui_names.begin(), gui_names.end(),
                                       [](const std::string& n) { return n.ends_with("_candidates.json"); });
        QVERIFY(json != gui_names.end());
        const QByteArray document = read_all(gui_root / *json);
        QVERIFY(document.contains("\"mirror\": true") && document.contains("\"lat_deg\": 48.2"));
        for (const auto& name : gui_names) {
            if (std::filesystem::is_directory(gui_root / name)) continue;
            QVERIFY2(read_all(gui_root / name) == read_all(cli_root / name), name.c_str());
        }
    }

    // A second batch over the same files: each file's "not renamed" condition goes to the status
    // line, one box at the end lists them all, no window opens over it, and none is left open.
    void a_second_batch_tells_everything_in_one_box() {
        const std::string a = synth("r1.ser", 240), b = synth("r2.ser", 240);
        panel_->add_path(a);
        panel_->add_path(b);
        panel_->set_review_after_scan(true);
        auto* start = control<QPushButton>(QStringLiteral("button_1077"));
        for (int run = 0; run < 2; ++run) {
            QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
            QStringList boxes;
            QList<QMessageBox::Icon> icons;
            bool window_over_a_box = false;
            QTimer watch;
            connect(&watch, &QTimer::timeout, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (modal == nullptr) return;
                // Nothing opened after the box may stand over it.
                if (panel_->review() != nullptr && panel_->review()->isVisible()) window_over_a_box = true;
                if (!boxes.contains(message_text(modal))) {
                    boxes << message_text(modal);
                    if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr) icons << box->icon();
                }
                if (finished.count() > 0 || !panel_->scanning()) static_cast<QDialog*>(modal)->accept();
            });
            watch.start(20);
            QTest::mouseClick(start, Qt::LeftButton);
            QVERIFY(finished.wait(120000));
            QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
            watch.stop();
            QCOMPARE(boxes.size(), 1);
            QVERIFY(!window_over_a_box);
            // The standard icons: information for a clean batch, a warning where a file has a note
            // (the second batch finds the first one's folders).
            QCOMPARE(icons.size(), 1);
            QCOMPARE(icons[0], run == 0 ? QMessageBox::Information : QMessageBox::Warning);
            QVERIFY2(boxes[0].startsWith(QStringLiteral("Scan finished|Scan finished: 2 files, ")),
                     qPrintable(boxes[0]));
            auto* progress = control<QProgressBar>(QStringLiteral("scan_progress"));
            QCOMPARE(progress->value(), progress->maximum());
            const QString status = control<QLabel>(QStringLiteral("scan_status"))->text();
            QVERIFY2(!status.contains(QLatin1Char('\n')) && status.size() < 160, qPrintable(status));
            if (run == 1) {
                QCOMPARE(panel_->logic().batch_notes().size(), std::size_t{2});
                QVERIFY2(boxes[0].contains(QStringLiteral("r1")) && boxes[0].contains(QStringLiteral("r2")) &&
                             boxes[0].contains(QStringLiteral("not renamed")),
                         qPrintable(boxes[0]));
            }
            if (panel_->review() != nullptr) panel_->review()->close();
        }
    }

    // Escape during a scan asks; "No" leaves the scan going and the program open, and the scan
    // then ends as usual. The scan is held at its first progress report while the question is
    // asked and answered, so it is under way whatever the machine's speed.
    void escape_then_no_keeps_the_scan_going() {
        panel_->add_path(synth("n1.ser", 240));
        scan_hold hold(panel_->runner());
        QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QTRY_VERIFY(hold.holding());
        QTest::keyClick(panel_.get(), Qt::Key_Escape);
        QMessageBox* question = panel_->quit_question();
        QVERIFY(question != nullptr);
        QCOMPARE(question->text(), QStringLiteral("A scan is under way. Stop it and quit?"));
        QTest::mouseClick(question->button(QMessageBox::No), Qt::LeftButton);
        QCOMPARE(panel_->quit_question(), nullptr);
        QVERIFY(panel_->isVisible());
        QVERIFY(panel_->scanning());
        QString closing = accept_closing_box_after(hold, finished);
        QVERIFY2(closing.startsWith(QStringLiteral("Scan finished|")), qPrintable(closing));
        QVERIFY(!panel_->runner().report().stopped);
        QCOMPARE(panel_->runner().report().files[0].outcome, detect::file_outcome::scanned);
        QVERIFY(panel_->isVisible());
    }

    // Escape during a scan that then ends before an answer: the question closes with the scan,
    // and nothing of it stays behind the closing box.
    void the_quit_question_closes_when_the_scan_ends() {
        panel_->add_path(synth("q1.ser", 240));
        scan_hold hold(panel_->runner());
        QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QTRY_VERIFY(hold.holding());
        QTest::keyClick(panel_.get(), Qt::Key_Escape);
        QVERIFY(panel_->quit_question() != nullptr);
        const QString closing = accept_closing_box_after(hold, finished);
        QCOMPARE(panel_->quit_question(), nullptr);
        QVERIFY2(closing.startsWith(QStringLiteral("Scan finished|")), qPrintable(closing));
        QVERIFY(panel_->isVisible());                  // not quit: the question was not answered
        QTest::keyClick(panel_.get(), Qt::Key_Escape); // no scan: quits at once
        QVERIFY(!panel_->isVisible());
    }

    // Escape, then "Yes": the scan stops after the frame under way and the program quits.
    void escape_then_yes_stops_and_quits() {
        panel_->add_path(synth("y1.ser", 240));
        scan_hold hold(panel_->runner());
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QTRY_VERIFY(hold.holding());
        QTest::keyClick(panel_.get(), Qt::Key_Escape);
        QVERIFY(panel_->quit_question() != nullptr);
        QTest::mouseClick(panel_->quit_question()->button(QMessageBox::Yes), Qt::LeftButton);
        QTRY_VERIFY(!panel_->isVisible());
        QTRY_VERIFY(!panel_->scanning());
        QVERIFY(panel_->runner().report().stopped);
    }

    // Return adds the file chosen in the folder list, Delete removes the row chosen in the
    // table, and Remove is off while no row is chosen.
    void keys_of_the_file_list_and_the_table() {
        auto* list = control<QListWidget>(QStringLiteral("list_1072"));
        auto* remove = control<QPushButton>(QStringLiteral("button_1079"));
        QVERIFY(!remove->isEnabled());
        QCOMPARE(list->item(0)->text(), QStringLiteral("m1.ser")); // files before the folders
        list->setCurrentRow(0);
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_COMPARE(table_model()->rowCount(), 1);
        auto* view = control<QTableView>(QStringLiteral("table_1076"));
        QVERIFY(!remove->isEnabled());
        view->setCurrentIndex(table_model()->index(0, 1));
        QVERIFY(remove->isEnabled());
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(table_model()->rowCount(), 0);
        QVERIFY(!remove->isEnabled());
        QCOMPARE(panel_->image(), nullptr);
    }

    // SER files and folders dropped on the panel: the files are added, a folder is listed; a new
    // file in the listed folder appears without "Open folder".
    void drop_files_and_folders_and_watch_the_folder() {
        const QString sub = dir_->path() + QStringLiteral("/night");
        QVERIFY(QDir().mkpath(sub));
        QVERIFY(write_ser((sub + QStringLiteral("/n1.ser")).toStdString(), 32, 24, 5));
        const auto drop = [this](const QList<QUrl>& urls) {
            auto* mime = new QMimeData;
            mime->setUrls(urls);
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(panel_.get(), &enter);
            const bool accepted = enter.isAccepted();
            QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            if (accepted) QApplication::sendEvent(panel_.get(), &dropped);
            delete mime;
            return accepted;
        };
        QVERIFY(drop({QUrl::fromLocalFile(QString::fromStdString(ser_path_)),
                      QUrl::fromLocalFile(sub + QStringLiteral("/n1.ser"))}));
        QTRY_COMPARE(table_model()->rowCount(), 2);
        QCOMPARE(table_model()->index(1, 1).data().toString(), QStringLiteral("n1.ser"));
        QVERIFY(drop({QUrl::fromLocalFile(sub)}));
        QTRY_COMPARE(field(id::FOLDER_NAME)->text(), QDir(sub).canonicalPath());

        auto* list = control<QListWidget>(QStringLiteral("list_1072"));
        QVERIFY(list->findItems(QStringLiteral("n2.ser"), Qt::MatchExactly).isEmpty());
        QVERIFY(write_ser((sub + QStringLiteral("/n2.ser")).toStdString(), 32, 24, 5));
        QTRY_VERIFY(!list->findItems(QStringLiteral("n2.ser"), Qt::MatchExactly).isEmpty());
    }

    // The read-out belongs to the file it was read from.
    void the_read_out_is_cleared_for_another_file() {
        panel_->add_path(ser_path_);
        send_mouse(panel_->image()->canvas(), QEvent::MouseMove, {10, 12}, Qt::NoButton, Qt::NoButton);
        QCOMPARE(field(id::READOUT_X)->text(), QStringLiteral("10"));
        const std::string other = (std::filesystem::path(dir_->path().toStdString()) / "m2.ser").string();
        QVERIFY(write_ser(other, 32, 24, 5));
        panel_->add_path(other);
        QCOMPARE(field(id::READOUT_X)->text(), QString());
        QCOMPARE(field(id::READOUT_VALUE)->text(), QString());
    }

    void tooltips_say_in_words_what_cryptic_labels_mean() {
        for (int c : {5, 6, 7, 8, 9}) {
            const QString tip = table_model()->headerData(c, Qt::Horizontal, Qt::ToolTipRole).toString();
            QVERIFY2(tip.size() > 30, qPrintable(tip));
        }
        for (int f : {id::THRESHOLD_AT_PRESENT, id::BIT_SHIFT})
            QVERIFY2(field(f)->toolTip().size() > 30, qPrintable(field(f)->toolTip()));
        // Max 100000 is shown whole.
        auto* view = control<QTableView>(QStringLiteral("table_1076"));
        QVERIFY(view->columnWidth(5) >= view->fontMetrics().horizontalAdvance(QStringLiteral("100000")) + 6);
    }

    void stop_ends_the_batch_after_the_current_frame() {
        // Held on the first file until Stop is clicked.
        const std::string first = synth("s1.ser", 400);
        const std::string second = synth("s2.ser", 400);
        panel_->add_path(first);
        panel_->add_path(second);
        scan_hold hold(panel_->runner());
        QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
        QString closing;
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QTRY_VERIFY(hold.holding());
        auto* stop = control<QPushButton>(QStringLiteral("button_stop_scan"));
        QVERIFY(stop->isEnabled());
        answer_modal([&closing](QWidget* modal) {
            closing = message_text(modal);
            static_cast<QDialog*>(modal)->accept();
        });
        QTest::mouseClick(stop, Qt::LeftButton);
        QVERIFY(finished.wait(120000));
        QVERIFY(!stop->isEnabled());
        const auto& report = panel_->runner().report();
        QVERIFY(report.stopped);
        QCOMPARE(report.files.size(), std::size_t{2});
        QCOMPARE(report.files[0].outcome, detect::file_outcome::stopped);
        QCOMPARE(report.files[1].outcome, detect::file_outcome::not_reached);
        QVERIFY2(closing.startsWith(QStringLiteral("Scan stopped|Scan stopped: 1 file, ")), qPrintable(closing));
        // The stopped file's folder got its final name; the second file was never started.
        const std::filesystem::path root = dir_->path().toStdString();
        QVERIFY(std::filesystem::exists(root / report.files[0].result_dir));
        QVERIFY(report.files[0].result_dir.starts_with("Results_s1_s"));
        QVERIFY(!std::filesystem::exists(root / "Results_s2"));
    }
};

} // namespace serflash::ui::qt

QTEST_MAIN(serflash::ui::qt::panel_window_test)
#include "panel_window_test.moc"
