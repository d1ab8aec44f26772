// The viewers (the image window and the Candidates window) on the screen the test runs on: a
// 1280 x 720 and a 1366 x 768 laptop, and a 1920 x 1080 screen at scale factor 2. Each lies on
// the screen, and its main parts are in sight or reached by scrolling.
#include "qt_test_support.h"
#include "review_fixture.h"
#include "ui/control_ids.h"
#include "ui/folder_list.h"
#include "ui/qt/control_panel.h"
#include "ui/qt/image_window.h"
#include "ui/qt/review_widgets.h"
#include "ui/qt/review_window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QSlider>
#include <QWheelEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <memory>

namespace serflash::ui::qt {

using namespace testing;

class viewer_screen_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::filesystem::path root_;

    static QRect area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    static QString text(const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4 on %5x%6")
            .arg(r.x())
            .arg(r.y())
            .arg(r.width())
            .arg(r.height())
            .arg(area().width())
            .arg(area().height());
    }

private slots:
    void initTestCase() {
        qInfo() << "screen" << QGuiApplication::primaryScreen()->geometry() << "scale"
                << QGuiApplication::primaryScreen()->devicePixelRatio();
    }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        root_ = dir_->path().toStdString();
    }
    void cleanup() { dir_.reset(); }

    void the_candidates_window_fits_and_shows_the_verdict_first() {
        QVERIFY(write_ser((root_ / "m1.ser").string(), 640, 480, 60));
        std::string many;
        for (int i = 1; i <= 12; ++i)
            many += (i > 1 ? "," : "") + ::serflash::ui::testing::candidate_json(i, "m1.ser", 20 + i, 40 + i, 30, 9.5,
                                                                                 "2026-12-08T21:14:04.458Z");
        ::serflash::ui::testing::write_candidates(root_ / "Results_m1_s54_59", "m1", (root_ / "m1.ser").string(), many);
        review_window window(false);
        window.load({root_ / "Results_m1_s54_59"});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(area().contains(window.frameGeometry()), qPrintable(text(window.frameGeometry())));
        QCOMPARE(window.stacked(), area().width() < 1100);

        // Nothing needs scrolling sideways: the header line, the buttons and the light curve
        // lie within the window.
        auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("review_scroll"));
        QVERIFY(scroll != nullptr);
        QVERIFY2(scroll->widget()->width() <= scroll->viewport()->width(),
                 qPrintable(QStringLiteral("%1 > %2").arg(scroll->widget()->width()).arg(scroll->viewport()->width())));
        const QRect inside = global_rect(&window);
        for (const char* name : {"button_mark_clear", "button_blink", "light_curve", "candidate_info"}) {
            auto* w = window.findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(w != nullptr, name);
            const QRect r = global_rect(w);
            QVERIFY2(r.left() >= inside.left() && r.right() <= inside.right(), name);
        }
        // The parts of the right-hand side stand one below the other: none is drawn over the next.
        const char* stacked_parts[] = {"candidate_info", "candidate_frame", "button_previous_frame", "button_mark_real",
                                       "light_curve"};
        for (std::size_t k = 0; k + 1 < std::size(stacked_parts); ++k) {
            const QRect upper = global_rect(window.findChild<QWidget*>(QLatin1String(stacked_parts[k])));
            const QRect lower = global_rect(window.findChild<QWidget*>(QLatin1String(stacked_parts[k + 1])));
            QVERIFY2(upper.bottom() < lower.top(), qPrintable(QStringLiteral("%1 ends at %2, %3 starts at %4")
                                                                  .arg(QLatin1String(stacked_parts[k]))
                                                                  .arg(upper.bottom())
                                                                  .arg(QLatin1String(stacked_parts[k + 1]))
                                                                  .arg(lower.top())));
        }
        // The verdict and the file are the first columns, in sight without scrolling the table.
        QTableView* table = window.table();
        QCOMPARE(table->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Mark"));
        const int file_end = table->horizontalHeader()->sectionViewportPosition(1) + table->columnWidth(1);
        QVERIFY2(file_end <= table->viewport()->width(), qPrintable(QString::number(file_end)));
    }

    void the_image_window_fits_and_zooms_pans_and_steps_by_wheel_and_key() {
        QVERIFY(QDir::setCurrent(dir_->path()));
        const std::string path = (root_ / "big.ser").string();
        QVERIFY(write_ser(path, 1280, 960, 40));
        control_panel panel(native_folder_access(), platform::native_file_system(), false);
        panel.set_review_after_scan(false);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.add_path(path);
        image_window* image = panel.image();
        QVERIFY(image != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(image));
        QVERIFY2(area().contains(image->frameGeometry()), qPrintable(text(image->frameGeometry())));
        QVERIFY2(image->minimumSizeHint().width() <= area().width(),
                 qPrintable(QString::number(image->minimumSizeHint().width())));
        // Fitted: the whole frame in the view, at most 100%, aspect kept.
        QScrollArea* view = image->scroller();
        QSize canvas = image->canvas()->size();
        QVERIFY(canvas.width() <= view->viewport()->width() && canvas.height() <= view->viewport()->height());
        QVERIFY(std::abs(canvas.width() * 960 - canvas.height() * 1280) <= 1280);
        auto* fit = panel.findChild<QAbstractButton*>(QStringLiteral("radio_%1").arg(id::ZOOM_FIT));
        QVERIFY(fit->isChecked());

        // Ctrl+wheel zooms about the pointer; the plain wheel steps frames.
        const QPoint at(canvas.width() / 3, canvas.height() / 3);
        const view_scale before = panel.logic().view.scale();
        const std::int64_t image_x = to_image(at.x(), before);
        QWheelEvent zoom_in(QPointF(at), image->canvas()->mapToGlobal(QPointF(at)), {}, {0, 120}, Qt::NoButton,
                            Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(image->canvas(), &zoom_in);
        const view_scale after = panel.logic().view.scale();
        QVERIFY(smaller_scale(before, after));
        QCOMPARE(panel.logic().cur_frame(), 0);
        QVERIFY(!fit->isChecked());
        // The pointer is where it was in the view (no scrolling before): the same image column under it.
        const std::int64_t x_now = to_image(view->horizontalScrollBar()->value() + at.x(), after);
        QVERIFY2(std::abs(x_now - image_x) <= 2, qPrintable(QStringLiteral("%1 %2").arg(x_now).arg(image_x)));
        for (int i = 0; i < 3; ++i) QApplication::sendEvent(image->canvas(), &zoom_in);
        QCOMPARE(panel.logic().view.scale(), (view_scale{4, 1}));
        QVERIFY(panel.findChild<QAbstractButton*>(QStringLiteral("radio_%1").arg(id::ZOOM_400))->isChecked());
        QWheelEvent step(QPointF(at), image->canvas()->mapToGlobal(QPointF(at)), {}, {0, -120}, Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(image->canvas(), &step);
        QCOMPARE(panel.logic().cur_frame(), 1);
        QVERIFY(image->windowTitle().endsWith(QStringLiteral(" - frame 1")));

        // A middle-button drag pans the view; the read-out stays in image pixels.
        view->horizontalScrollBar()->setValue(400);
        view->verticalScrollBar()->setValue(400);
        const QPoint p0(600, 600);
        send_mouse(image->canvas(), QEvent::MouseButtonPress, p0, Qt::MiddleButton, Qt::MiddleButton);
        send_mouse(image->canvas(), QEvent::MouseMove, p0 + QPoint(-30, -20), Qt::NoButton, Qt::MiddleButton);
        send_mouse(image->canvas(), QEvent::MouseButtonRelease, p0 + QPoint(-30, -20), Qt::MiddleButton, Qt::NoButton);
        QCOMPARE(view->horizontalScrollBar()->value(), 430);
        QCOMPARE(view->verticalScrollBar()->value(), 420);

        // Home and End, and the slider.
        QTest::keyClick(image, Qt::Key_End);
        QCOMPARE(panel.logic().cur_frame(), 39);
        QTest::keyClick(image, Qt::Key_Home);
        QCOMPARE(panel.logic().cur_frame(), 0);
        auto* slider = image->findChild<QSlider*>(QStringLiteral("frame_slider"));
        QCOMPARE(slider->maximum(), 39);
        slider->setValue(37); // as a drag passes it
        QCOMPARE(panel.logic().cur_frame(), 37);
        QVERIFY(image->findChild<QLabel*>(QStringLiteral("frame_status"))->text().startsWith("frame 37 of 40"));

        // Fit again: the whole frame.
        fit->click();
        QVERIFY(image->canvas()->width() <= view->viewport()->width());
    }

    void histogram_points_and_levels_text() {
        QVERIFY(QDir::setCurrent(dir_->path()));
        const std::string path = (root_ / "m.ser").string();
        QVERIFY(write_ser(path, 64, 48, 40));
        control_panel panel(native_folder_access(), platform::native_file_system(), false);
        panel.show();
        panel.add_path(path);
        panel.logic().set_auto_levels(true);
        image_window* image = panel.image();
        QVERIFY(image != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(image));
        histogram_view* hist = image->histogram_widget();
        auto* levels = image->findChild<QLabel*>(QStringLiteral("levels_text"));
        const auto auto_levels = *panel.logic().display_levels();
        QCOMPARE(levels->text(), QStringLiteral("levels %1 to %2").arg(auto_levels.low).arg(auto_levels.high));
        // Drag the white point to the left: the frame shows between the chosen points.
        const int y = hist->height() / 2;
        const QPoint white(static_cast<int>(hist->x_of(auto_levels.high)), y);
        const QPoint to(static_cast<int>(hist->x_of((auto_levels.low + auto_levels.high) / 2)), y);
        send_mouse(hist, QEvent::MouseButtonPress, white, Qt::LeftButton, Qt::LeftButton);
        send_mouse(hist, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        send_mouse(hist, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(panel.logic().level_setting().source, level_source::chosen);
        const auto chosen = *panel.logic().display_levels();
        QCOMPARE(chosen.low, auto_levels.low);
        QVERIFY(chosen.high < auto_levels.high && chosen.high > auto_levels.low);
        QVERIFY(levels->text().endsWith(QStringLiteral("(chosen)")));
        auto* check = image->findChild<QCheckBox*>(QStringLiteral("check_auto_levels"));
        QVERIFY(!check->isChecked());
        // The chosen points stay from frame to frame; the row's Brt is untouched.
        QTest::keyClick(image, Qt::Key_Right);
        QCOMPARE(*panel.logic().display_levels(), chosen);
        QCOMPARE(panel.logic().table.cell(0, col_brt), std::string("4"));
        // Auto levels off: the levels are not shown any more, the row's Brt is.
        check->click(); // on
        check->click(); // off
        QCOMPARE(levels->text(), QStringLiteral("Brt 4"));
        QVERIFY(!panel.logic().display_levels());
        QTest::mouseDClick(hist, Qt::LeftButton, {}, to); // back to Auto levels
        QVERIFY(panel.logic().auto_levels());
    }

    void play_runs_at_the_frame_rate_and_stops_at_the_end() {
        QVERIFY(QDir::setCurrent(dir_->path()));
        const std::string path = (root_ / "p.ser").string();
        QVERIFY(write_ser(path, 32, 24, 12));
        control_panel panel(native_folder_access(), platform::native_file_system(), false);
        panel.show();
        panel.add_path(path);
        image_window* image = panel.image();
        QVERIFY(image != nullptr);
        play_bar* player = image->player();
        QTest::keyClick(image, Qt::Key_P);
        QVERIFY(player->playing());
        QCOMPARE(player->interval_ms(), 40); // no time stamps: 25 frames a second
        QTRY_COMPARE_WITH_TIMEOUT(panel.logic().cur_frame(), 11, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!player->playing(), 2000);
    }
};

} // namespace serflash::ui::qt

QTEST_MAIN(serflash::ui::qt::viewer_screen_test)
#include "viewer_screen_test.moc"
