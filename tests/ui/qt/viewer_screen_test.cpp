// The viewers (the image window and the Candidates window) on the screen the test runs on: a
// 1280 x 720 and a 1366 x 768 laptop, and a 1920 x 1080 screen at scale factor 2. Each lies on
// the screen, and its main parts are in sight or reached by scrolling.
#include "qt_test_support.h"
#include "review_fixture.h"
#include "ui/qt/review_widgets.h"
#include "ui/qt/review_window.h"

#include <QHeaderView>
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
        // The verdict and the file are the first columns, in sight without scrolling the table.
        QTableView* table = window.table();
        QCOMPARE(table->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Mark"));
        const int file_end = table->horizontalHeader()->sectionViewportPosition(1) + table->columnWidth(1);
        QVERIFY2(file_end <= table->viewport()->width(), qPrintable(QString::number(file_end)));
    }
};

} // namespace serflash::ui::qt

QTEST_MAIN(serflash::ui::qt::viewer_screen_test)
#include "viewer_screen_test.moc"
