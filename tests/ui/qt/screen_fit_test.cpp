// The panel and the image window on the screen the test runs on (a 1366 x 768 laptop, and a
// 1920 x 1080 screen at scale factor 2): everything reachable, nothing beyond the screen.
#include "qt_test_support.h"
#include "ui/control_ids.h"
#include "ui/folder_list.h"
#include "ui/qt/control_panel.h"
#include "ui/qt/image_window.h"

#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QHeaderView>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <memory>

namespace serflash::ui::qt {

using namespace testing;

class screen_fit_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<control_panel> panel_;

    QRect area() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    template <class T>
    T* control(const QString& name) {
        auto* w = panel_->findChild<T*>(name);
        if (w == nullptr) qWarning() << "no control" << name;
        return w;
    }
    std::string ser(const std::string& name, int w, int h) {
        const std::string path = (std::filesystem::path(dir_->path().toStdString()) / name).string();
        if (!write_ser(path, w, h, 2)) qWarning() << "cannot write" << path.c_str();
        return path;
    }
    // The part of a control in sight: within the panel, and within the scrolling part's
    // viewport when it lies in it.
    QRect in_sight(QWidget* w) {
        QRect r = global_rect(w).intersected(global_rect(panel_.get()));
        auto* scroll = control<QScrollArea>(QStringLiteral("panel_scroll"));
        if (scroll->isAncestorOf(w)) r = r.intersected(global_rect(scroll->viewport()));
        return r;
    }
    // The panel's controls that must stay in sight while pointing at the image.
    std::vector<QWidget*> frame_controls() {
        std::vector<QWidget*> out;
        for (int id : {id::READOUT_X, id::READOUT_Y, id::READOUT_VALUE, id::FRAME_NO})
            out.push_back(control<QWidget>(QStringLiteral("field_%1").arg(id)));
        for (int id : {id::STEP_1, id::STEP_50, id::STEP_500, id::STEP_5000})
            out.push_back(control<QWidget>(QStringLiteral("updown_%1").arg(id)));
        out.push_back(control<QWidget>(QStringLiteral("button_%1").arg(id::SHOW_FRAME)));
        return out;
    }

private slots:
    void initTestCase() {
        qInfo() << "screen" << QGuiApplication::primaryScreen()->geometry() << "scale"
                << QGuiApplication::primaryScreen()->devicePixelRatio();
    }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(QDir::setCurrent(dir_->path()));
        panel_ = std::make_unique<control_panel>(native_folder_access(), platform::native_file_system(), false);
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
    }
    void cleanup() {
        panel_.reset();
        QDir::setCurrent(QDir::tempPath());
        dir_.reset();
    }

    void panel_fits_and_every_command_is_reachable() {
        QVERIFY2(area().contains(panel_->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                          .arg(panel_->frameGeometry().x())
                                                                          .arg(panel_->frameGeometry().y())
                                                                          .arg(panel_->frameGeometry().width())
                                                                          .arg(panel_->frameGeometry().height())));
        // Contents that scroll take the whole height: no bare strip below the panel where the
        // decorations guessed before the show are not there (no window manager).
        auto* scrolled = control<QScrollArea>(QStringLiteral("panel_scroll"));
        if (scrolled->verticalScrollBar()->maximum() > 0) QCOMPARE(panel_->frameGeometry().bottom(), area().bottom());
        const QSize least = panel_->minimumSize().expandedTo(panel_->minimumSizeHint());
        QVERIFY(least.width() <= area().width() && least.height() <= area().height());

        // At its least size the contents scroll; "Stop scan" stays in sight below them.
        panel_->resize(least);
        QTest::qWait(0);
        auto* scroll = control<QScrollArea>(QStringLiteral("panel_scroll"));
        const QRect panel_rect = global_rect(panel_.get());
        QVERIFY(panel_rect.contains(global_rect(control<QWidget>(QStringLiteral("button_stop_scan")))));
        QVERIFY(panel_rect.contains(global_rect(control<QWidget>(QStringLiteral("scan_status")))));
        for (const char* name : {"button_1077", "button_1078", "table_1076", "field_1092", "list_1072"}) {
            QWidget* w = control<QWidget>(QLatin1String(name));
            if (scroll->isAncestorOf(w)) scroll->ensureWidgetVisible(w, 0, 0);
            QVERIFY2(!in_sight(w).isEmpty(), name);
        }
    }

    // The scan table shows five rows without scrolling, with the image window beside the
    // panel, and no column is cut off on the right: what does not fit beside the others goes
    // below them.
    void the_table_keeps_five_rows_and_nothing_is_clipped() {
        panel_->add_path(ser("t.ser", 640, 480));
        QVERIFY(panel_->image() != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(panel_->image()));
        QTest::qWait(0);
        auto* table = control<QTableView>(QStringLiteral("table_1076"));
        auto* scroll = control<QScrollArea>(QStringLiteral("panel_scroll"));
        scroll->verticalScrollBar()->setValue(0);
        const QRect rows_in_sight = in_sight(table->viewport());
        const int rows = rows_in_sight.height() / table->verticalHeader()->defaultSectionSize();
        QVERIFY2(rows >= 5, qPrintable(QString::number(rows)));
        QVERIFY(!panel_->image()->frameGeometry().intersects(global_rect(table->viewport())));
        QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        for (const char* name : {"list_1072", "table_1076", "button_1077", "field_1102", "field_1115"}) {
            QWidget* w = control<QWidget>(QLatin1String(name));
            if (scroll->isAncestorOf(w)) scroll->ensureWidgetVisible(w, 0, 0);
            const QRect r = global_rect(w);
            const QRect sight = in_sight(w);
            QVERIFY2(r.left() == sight.left() && r.right() == sight.right(), name);
        }
        // The status line is one line, however much a scan has to tell.
        auto* status = control<QLabel>(QStringLiteral("scan_status"));
        QVERIFY(status->height() < 2 * status->fontMetrics().height() + 4);
        QVERIFY(area().contains(panel_->frameGeometry()));
    }

    void image_window_placement_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("small 64x48") << 64 << 48;
        QTest::newRow("large 1280x960") << 1280 << 960;
        QTest::newRow("huge 4000x3000") << 4000 << 3000;
    }
    void image_window_placement() {
        QFETCH(int, width);
        QFETCH(int, height);
        panel_->add_path(ser("f.ser", width, height));
        image_window* image = panel_->image();
        QVERIFY(image != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(image));
        const QRect placed = image->frameGeometry();
        QVERIFY2(area().contains(placed), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                         .arg(placed.x())
                                                         .arg(placed.y())
                                                         .arg(placed.width())
                                                         .arg(placed.height())));
        // Fitted into the window, at most 100%: the whole frame in sight, no scroll bars.
        QScrollArea* view = image->scroller();
        const QSize canvas = image->canvas()->size();
        QVERIFY(canvas.width() <= width && canvas.height() <= height);
        QVERIFY(canvas.width() == width || canvas.width() >= view->viewport()->width() - 1 ||
                canvas.height() >= view->viewport()->height() - 1);
        QVERIFY(!view->horizontalScrollBar()->isVisible() && !view->verticalScrollBar()->isVisible());
        const bool scrolls = false;
        // The read-out, the frame controls and the status line are not covered.
        const QRect panel_frame = panel_->frameGeometry();
        for (QWidget* w : frame_controls()) QVERIFY2(!placed.intersects(global_rect(w)), qPrintable(w->objectName()));
        QVERIFY(!placed.intersects(global_rect(control<QWidget>(QStringLiteral("scan_status")))));
        if (width == 64) { // room enough: left of the panel, touching it, top edges level
            QVERIFY(!scrolls);
            QCOMPARE(placed.right() + 1, panel_frame.left());
            QCOMPARE(placed.top(), panel_frame.top());
        }

        // At 100% the view scrolls, and the read-out is in image pixels wherever it is.
        control<QAbstractButton>(QStringLiteral("radio_%1").arg(id::ZOOM_100))->click();
        QCOMPARE(image->canvas()->size(), QSize(width, height));
        QTest::qWait(0);
        view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
        send_mouse(image->canvas(), QEvent::MouseMove, {width - 1, height - 1}, Qt::NoButton, Qt::NoButton);
        auto* x = control<QLineEdit>(QStringLiteral("field_%1").arg(id::READOUT_X));
        QCOMPARE(x->text(), QString::number(width - 1));
        QVERIFY(area().contains(image->frameGeometry()));
    }

    void a_new_display_size_applies_at_once() {
        panel_->add_path(ser("g.ser", 1280, 960));
        type_into(control<QLineEdit>(QStringLiteral("field_%1").arg(id::FRAME_NO)), QStringLiteral("1"));
        QTest::keyClick(control<QLineEdit>(QStringLiteral("field_%1").arg(id::FRAME_NO)), Qt::Key_Return);
        QCOMPARE(panel_->logic().cur_frame(), 1);
        control<QAbstractButton>(QStringLiteral("radio_%1").arg(id::ZOOM_25))->click();
        QVERIFY(panel_->image() != nullptr);
        QCOMPARE(panel_->image()->canvas()->size(), QSize(320, 240));
        QCOMPARE(panel_->logic().cur_frame(), 1); // the same frame, not frame 0 of a re-opened file
        QVERIFY(area().contains(panel_->image()->frameGeometry()));
    }
};

} // namespace serflash::ui::qt

QTEST_MAIN(serflash::ui::qt::screen_fit_test)
#include "screen_fit_test.moc"
