// The "Candidates" window on results folders as a scan leaves them.
#include "qt_test_support.h"
#include "review_fixture.h"
#include "ui/qt/candidate_table_model.h"
#include "ui/qt/review_widgets.h"
#include "ui/qt/review_window.h"
#include "ui/review_model.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QWheelEvent>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace serflash::ui::qt {

using namespace testing;

class review_window_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::filesystem::path root_, first_, second_;
    std::unique_ptr<review_window> window_;

    QAbstractItemModel* table() { return window_->table()->model(); }
    // The row of the table (as sorted now) of the candidate at this peak frame.
    int row_of_frame(int frame) {
        for (int r = 0; r < table()->rowCount(); ++r)
            if (table()->index(r, candidate_table_model::column("frame")).data().toInt() == frame) return r;
        return -1;
    }
    static std::string read_text(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        root_ = dir_->path().toStdString();
        QVERIFY(write_ser((root_ / "m1.ser").string(), 64, 48, 60));
        first_ = root_ / "Results_m1_s54_59";
        second_ = root_ / "Results_m9_s60_99";
        ::serflash::ui::testing::write_candidates(
            first_, "m1", (root_ / "m1.ser").string(),
            ::serflash::ui::testing::candidate_json(1, "m1.ser", 10, 5, 6, 9.5) + "," +
                ::serflash::ui::testing::candidate_json(2, "m1.ser", 37, 40, 30, 31.2, "2026-12-08T21:14:04.458Z"));
        ::serflash::ui::testing::write_candidates(second_, "m9", "/nowhere/m9.ser",
                                                  ::serflash::ui::testing::candidate_json(1, "m9.ser", 7, 3, 4, 12));
        std::ofstream(first_ / "m1_summary.txt", std::ios::binary) << "summary\r\n";
        window_ = std::make_unique<review_window>(false);
        window_->load({first_, second_});
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
    void cleanup() {
        window_.reset();
        dir_.reset();
    }

    void the_table_holds_every_candidate_and_sorts_by_each_column() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Candidates"));
        QCOMPARE(table()->rowCount(), 3);
        QCOMPARE(window_->findChild<QLabel*>(QStringLiteral("review_status"))->text(),
                 QStringLiteral("3 candidates in 2 folders."));
        QStringList headers;
        for (int c = 0; c < table()->columnCount(); ++c) headers << table()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
                 QStringList({"Mark", "Class", "File", "UTC", "Frame", "x", "y", "Peak sigma", "Noise expected", "Lat",
                              "Lon", "+- deg", "Peak mag", "Energy (J)", "Duration (frames)", "Thresholds"}));
        for (int c = 0; c < table()->columnCount(); ++c)
            QVERIFY(!table()->headerData(c, Qt::Horizontal, Qt::ToolTipRole).toString().isEmpty());
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::column("utc")).data().toString(),
                 QStringLiteral("2026-12-08T21:14:04.458Z"));
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::column("thresholds")).data().toString(),
                 QStringLiteral("60 57 54"));

        // Numbers sort as numbers: 9.5 before 12 before 31.2.
        window_->table()->sortByColumn(candidate_table_model::column("sigma"), Qt::AscendingOrder);
        QCOMPARE(table()->index(0, candidate_table_model::column("sigma")).data().toString(), QStringLiteral("9.5"));
        QCOMPARE(table()->index(2, candidate_table_model::column("sigma")).data().toString(), QStringLiteral("31.2"));
        window_->table()->sortByColumn(candidate_table_model::column("frame"), Qt::DescendingOrder);
        QCOMPARE(table()->index(0, candidate_table_model::column("frame")).data().toInt(), 37);
        QCOMPARE(table()->index(2, candidate_table_model::column("frame")).data().toInt(), 7);
    }

    // Classes and expected noise: flashes first, least likely from noise first; the class filter
    // shows one class; the grid is drawn over the frame where the scan found the disk.
    void classes_filter_and_the_moon_grid() {
        using ::serflash::ui::testing::candidate_json;
        using ::serflash::ui::testing::with_fields;
        const std::filesystem::path folder = root_ / "Results_m1_s60_59";
        ::serflash::ui::testing::write_candidates(
            folder, "m1", (root_ / "m1.ser").string(),
            with_fields(candidate_json(1, "m1.ser", 10, 5, 6, 30), R"("class":"star","noise_expected":0.2)") + "," +
                with_fields(candidate_json(2, "m1.ser", 20, 30, 20, 9), R"("class":"flash","noise_expected":0.5)") +
                "," +
                with_fields(candidate_json(3, "m1.ser", 37, 40, 30, 12),
                            R"("class":"flash","noise_expected":0.001,"lat":1.5,"lon":-2.25,"lat_lon_err":0.4,)"
                            R"("peak_mag":6.126,"peak_mag_err":0.05,"energy_j":12500.0)"),
            ::serflash::ui::testing::moon_block(32, 24, 20));
        window_->load({folder});
        const auto text = [this](int row, const char* id) {
            return table()->index(row, candidate_table_model::column(id)).data().toString();
        };
        QCOMPARE(text(0, "class"), QStringLiteral("flash"));
        QCOMPARE(text(0, "noise"), QStringLiteral("0.001"));
        QCOMPARE(text(1, "noise"), QStringLiteral("0.5"));
        QCOMPARE(text(2, "class"), QStringLiteral("star"));
        QCOMPARE(text(0, "lat"), QStringLiteral("1.50"));
        QCOMPARE(text(0, "peak_mag"), QStringLiteral("6.13 +- 0.05"));
        QCOMPARE(text(0, "energy"), QStringLiteral("1.25e+04"));
        QCOMPARE(window_->current(), 2); // the first row is chosen
        QVERIFY2(
            window_->findChild<QLabel*>(QStringLiteral("candidate_info"))->text().contains(QStringLiteral("lat 1.50")),
            "the place in the line above the frame");

        auto* filter = window_->findChild<QComboBox*>(QStringLiteral("class_filter"));
        QVERIFY(filter != nullptr && filter->isEnabled());
        QCOMPARE(filter->count(), 3); // all, flash, star
        window_->filter_class("star");
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(window_->current(), 0);
        window_->filter_class({});
        QCOMPARE(table()->rowCount(), 3);

        auto* grid = window_->findChild<QCheckBox*>(QStringLiteral("grid_overlay"));
        QVERIFY(grid != nullptr && grid->isEnabled());
        QVERIFY(window_->frame_view()->overlay().empty());
        QTest::keyClick(window_.get(), Qt::Key_G);
        QVERIFY(grid->isChecked());
        QVERIFY(window_->frame_view()->overlay().size() > 10);
        for (const auto& line : window_->frame_view()->overlay())
            for (const QPointF& p : line) QVERIFY(std::hypot(p.x() - 32, p.y() - 24) <= 20.0 + 1e-6);

        // A file without a disk: no grid to draw.
        window_->load({second_});
        QVERIFY(!grid->isEnabled());
        QVERIFY(window_->frame_view()->overlay().empty());
        QVERIFY(!filter->isEnabled()); // candidates without a class
    }

    void choosing_a_candidate_shows_its_frame_boxed() {
        window_->choose_row(row_of_frame(37));
        QCOMPARE(window_->shown_frame(), 37);
        const QImage& frame = window_->frame_view()->image();
        QCOMPARE(frame.size(), QSize(64, 48));
        QVERIFY(window_->frame_view()->box().contains(40, 30));
        QCOMPARE(window_->frame_view()->box().center(), QPoint(40, 30));
        QCOMPARE(frame.pixel(40, 30) & 0xFFFFFFU, 0xFFFFFFU); // the flash, white at the frame's levels
        QVERIFY(window_->curve_view()->has_curve());
        QTest::keyClick(window_.get(), Qt::Key_Right);
        QCOMPARE(window_->shown_frame(), 38);
        QTest::mouseClick(window_->findChild<QPushButton*>(QStringLiteral("button_previous_frame")), Qt::LeftButton);
        QTest::mouseClick(window_->findChild<QPushButton*>(QStringLiteral("button_previous_frame")), Qt::LeftButton);
        QCOMPARE(window_->shown_frame(), 36);

        // A candidate whose video is not there says so instead of showing a frame.
        window_->choose_row(row_of_frame(7));
        QVERIFY(window_->frame_view()->image().isNull());
        QVERIFY(window_->curve_view()->has_curve());
    }

    void marks_are_kept_beside_the_candidates_and_read_back() {
        const std::string summary = read_text(first_ / "m1_summary.txt");
        window_->choose_row(row_of_frame(37));
        QTest::keyClick(window_.get(), Qt::Key_R);
        window_->choose_row(row_of_frame(10));
        QTest::keyClick(window_.get(), Qt::Key_F);
        window_->choose_row(row_of_frame(7));
        QTest::keyClick(window_.get(), Qt::Key_U);
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::column("mark")).data().toString(),
                 QStringLiteral("real"));
        QVERIFY(std::filesystem::exists(first_ / "m1_marks.json"));
        QVERIFY(std::filesystem::exists(second_ / "m9_marks.json"));
        QCOMPARE(read_text(first_ / "m1_summary.txt"), summary);

        review_model again; // as the next run reads them
        again.load({first_, second_});
        std::map<int, verdict> marks;
        for (const candidate& c : again.candidates()) marks[c.peak_frame] = c.mark;
        QCOMPARE(marks[37], verdict::real);
        QCOMPARE(marks[10], verdict::false_alarm);
        QCOMPARE(marks[7], verdict::unsure);
        const std::string csv = again.csv();
        QVERIFY(csv.find(",mark\r\n") != std::string::npos);
        QVERIFY(csv.find(",real\r\n") != std::string::npos);

        // A new window on the same folders shows the marks; "0" takes one away.
        window_ = std::make_unique<review_window>(false);
        window_->load({first_});
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::column("mark")).data().toString(),
                 QStringLiteral("real"));
        window_->choose_row(row_of_frame(37));
        QTest::keyClick(window_.get(), Qt::Key_0);
        again.load({first_});
        for (const candidate& c : again.candidates())
            if (c.peak_frame == 37) QCOMPARE(c.mark, verdict::none);
    }

    void a_mark_goes_on_to_the_next_candidate_without_one() {
        window_->table()->sortByColumn(candidate_table_model::column("frame"), Qt::AscendingOrder); // 7, 10, 37
        window_->choose_row(row_of_frame(10));
        QTest::keyClick(window_.get(), Qt::Key_R);
        QCOMPARE(window_->shown_frame(), 37); // the next row
        QTest::keyClick(window_.get(), Qt::Key_F);
        QCOMPARE(window_->table()->currentIndex().row(), row_of_frame(7)); // round to the top
        QTest::keyClick(window_.get(), Qt::Key_U);
        QCOMPARE(window_->table()->currentIndex().row(), row_of_frame(7)); // none left: it stays
        QTest::keyClick(window_.get(), Qt::Key_0);
        QCOMPARE(window_->table()->currentIndex().row(), row_of_frame(7)); // clearing does not move on
    }

    void every_frame_of_a_candidate_has_the_peak_frames_levels() {
        window_->choose_row(row_of_frame(37));
        const QImage peak_cut = window_->cut_view()->image();
        QCOMPARE(peak_cut.size(), QSize(25, 25));
        QCOMPARE(peak_cut.pixel(12, 12) & 0xFFFFFFU, 0xFFFFFFU); // the flash is the cut-out's white
        QTest::keyClick(window_.get(), Qt::Key_Right);
        const QImage noise_cut = window_->cut_view()->image();
        int brightest = 0;
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 25; ++x) brightest = std::max(brightest, qGray(noise_cut.pixel(x, y)));
        QVERIFY2(brightest < 40, qPrintable(QString::number(brightest))); // noise stays dark, not stretched to white
        const QImage noise_frame = window_->frame_view()->image();
        QVERIFY(qGray(noise_frame.pixel(40, 30)) < 255);
    }

    void blink_alternates_with_a_chosen_frame() {
        window_->choose_row(row_of_frame(37));
        window_->set_blink(true);
        QTRY_COMPARE_WITH_TIMEOUT(window_->frame_on_screen(), 36, 2000); // the frame before, by default
        QTRY_COMPARE_WITH_TIMEOUT(window_->frame_on_screen(), 37, 2000);
        QTest::keyClick(window_.get(), Qt::Key_Right);
        QTest::keyClick(window_.get(), Qt::Key_B, Qt::ShiftModifier); // against frame 38
        QTest::keyClick(window_.get(), Qt::Key_Left);                 // shows 37 again
        QTRY_COMPARE_WITH_TIMEOUT(window_->frame_on_screen(), 38, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(window_->frame_on_screen(), 37, 2000);
        window_->set_blink_against(5);
        QTRY_COMPARE_WITH_TIMEOUT(window_->frame_on_screen(), 5, 2000);
        QTest::keyClick(window_.get(), Qt::Key_B); // off: the chosen frame stays
        QCOMPARE(window_->frame_on_screen(), 37);
    }

    void the_frame_zooms_about_the_pointer_and_pans() {
        window_->choose_row(row_of_frame(37));
        auto* view = const_cast<picture_view*>(window_->frame_view());
        const QRectF fitted = view->image_rect();
        const QPointF at(fitted.left() + fitted.width() * 0.25, fitted.top() + fitted.height() * 0.75);
        const auto image_point = [view](QPointF p) {
            const QRectF r = view->image_rect();
            return QPointF((p.x() - r.left()) / r.width(), (p.y() - r.top()) / r.height());
        };
        const QPointF before = image_point(at);
        QWheelEvent zoom_in(at, view->mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::ControlModifier,
                            Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &zoom_in);
        QVERIFY(view->zoom().zoom > 1.5);
        QVERIFY(view->image_rect().width() > fitted.width() * 1.5);
        const QPointF after = image_point(at);
        QVERIFY(std::abs(after.x() - before.x()) < 1e-6 && std::abs(after.y() - before.y()) < 1e-6);
        QCOMPARE(window_->shown_frame(), 37); // Ctrl+wheel zooms, it does not step

        // A drag pans; the plain wheel steps frames; a double-click fits again.
        const double left = view->image_rect().left();
        send_mouse(view, QEvent::MouseButtonPress, at.toPoint(), Qt::LeftButton, Qt::LeftButton);
        send_mouse(view, QEvent::MouseMove, at.toPoint() + QPoint(20, 0), Qt::NoButton, Qt::LeftButton);
        send_mouse(view, QEvent::MouseButtonRelease, at.toPoint() + QPoint(20, 0), Qt::LeftButton, Qt::NoButton);
        QVERIFY(view->image_rect().left() > left);
        QWheelEvent step(at, view->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                         false);
        QApplication::sendEvent(view, &step);
        QCOMPARE(window_->shown_frame(), 38);
        QTest::mouseDClick(view, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(view->image_rect(), fitted);
    }

    void escape_and_ctrl_w_close_the_window() {
        QTest::keyClick(window_.get(), Qt::Key_Escape);
        QVERIFY(!window_->isVisible());
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QTest::keyClick(window_.get(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!window_->isVisible());
    }

    void a_folder_without_candidates_is_named() {
        std::filesystem::create_directories(root_ / "Results_empty");
        window_->load({root_ / "Results_empty", root_ / "gone"});
        QCOMPARE(table()->rowCount(), 0);
        const QString status = window_->findChild<QLabel*>(QStringLiteral("review_status"))->text();
        QVERIFY2(status.startsWith(QStringLiteral("0 candidates in 2 folders.")), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("Results_empty: no candidates file")), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("gone: there is no such folder")), qPrintable(status));
    }
};

} // namespace serflash::ui::qt

QTEST_MAIN(serflash::ui::qt::review_window_test)
#include "review_window_test.moc"
