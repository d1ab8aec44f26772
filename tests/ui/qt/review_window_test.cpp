// The "Candidates" window on results folders as a scan leaves them.
#include "qt_test_support.h"
#include "review_fixture.h"
#include "ui/qt/candidate_table_model.h"
#include "ui/qt/review_widgets.h"
#include "ui/qt/review_window.h"
#include "ui/review_model.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

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
            if (table()->index(r, candidate_table_model::frame).data().toInt() == frame) return r;
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
        QStringList headers;
        for (int c = 0; c < table()->columnCount(); ++c) headers << table()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"File", "UTC", "Frame", "x", "y", "Peak sigma", "Duration (frames)",
                                       "Thresholds", "Mark"}));
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::utc).data().toString(),
                 QStringLiteral("2026-12-08T21:14:04.458Z"));
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::thresholds).data().toString(),
                 QStringLiteral("60 57 54"));

        // Numbers sort as numbers: 9.5 before 12 before 31.2.
        window_->table()->sortByColumn(candidate_table_model::sigma, Qt::AscendingOrder);
        QCOMPARE(table()->index(0, candidate_table_model::sigma).data().toString(), QStringLiteral("9.5"));
        QCOMPARE(table()->index(2, candidate_table_model::sigma).data().toString(), QStringLiteral("31.2"));
        window_->table()->sortByColumn(candidate_table_model::frame, Qt::DescendingOrder);
        QCOMPARE(table()->index(0, candidate_table_model::frame).data().toInt(), 37);
        QCOMPARE(table()->index(2, candidate_table_model::frame).data().toInt(), 7);
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
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::mark).data().toString(),
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
        QCOMPARE(table()->index(row_of_frame(37), candidate_table_model::mark).data().toString(),
                 QStringLiteral("real"));
        window_->choose_row(row_of_frame(37));
        QTest::keyClick(window_.get(), Qt::Key_0);
        again.load({first_});
        for (const candidate& c : again.candidates())
            if (c.peak_frame == 37) QCOMPARE(c.mark, verdict::none);
    }

    void a_folder_without_candidates_is_named() {
        std::filesystem::create_directories(root_ / "Results_empty");
        window_->load({root_ / "Results_empty", root_ / "gone"});
        QCOMPARE(table()->rowCount(), 0);
        const QString status = window_->findChild<QLabel*>(QStringLiteral("review_status"))->text();
        QVERIFY2(status.contains(QStringLiteral("Results_empty: no candidates file")), qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("gone: there is no such folder")), qPrintable(status));
    }
};

} // namespace serflash::ui::qt

QTEST_MAIN(serflash::ui::qt::review_window_test)
#include "review_window_test.moc"
