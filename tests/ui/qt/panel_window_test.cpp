// Drives the real control panel and image window on the offscreen platform.
#include "platform/file_io.h"
#include "ser/ser_writer.h"
#include "ui/control_ids.h"
#include "ui/folder_list.h"
#include "ui/qt/control_panel.h"
#include "ui/qt/image_window.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>

namespace serflash::ui::qt {
namespace {

// Samples of frame k at (x, y): a smooth ramp, and one bright point in frame 37.
std::uint16_t sample(int k, int x, int y) {
    const int base = 1000 + ((x * 13 + y * 7 + k * 29) % 97);
    if (k == 37 && x == 40 && y == 30) return 9000;
    return static_cast<std::uint16_t>(base);
}

void write_ser(const std::string& path, int w, int h, int frames) {
    auto out = platform::native_file_system().open_write(path, platform::write_mode::truncate);
    QVERIFY(out != nullptr);
    ser::ser_writer writer(*out, ser::make_header(w, h, 16, frames));
    std::vector<std::uint16_t> s(static_cast<std::size_t>(w * h));
    for (int k = 0; k < frames; ++k) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) s[static_cast<std::size_t>(y * w + x)] = sample(k, x, y);
        writer.write_frame(s);
    }
    QVERIFY(writer.close());
}

// Answers the next modal window (message box or value dialog) once it is up.
void answer_modal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start(20);
}

QString message_text(QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    return box != nullptr ? box->windowTitle() + "|" + box->text() : QString();
}

void send_mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

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

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(QDir::setCurrent(dir_->path()));
        ser_path_ = (std::filesystem::path(dir_->path().toStdString()) / "m1.ser").string();
        write_ser(ser_path_, 64, 48, 60);
        panel_ = std::make_unique<control_panel>(native_folder_access(), platform::native_file_system());
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
        QCOMPARE(image->windowTitle(), QString::fromStdString(ser_path_));
        QCOMPARE(image->size(), QSize(74, 58));
        QVERIFY(image->x() + image->frameGeometry().width() <= panel_->frameGeometry().left() || image->x() == 0);

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
        const QImage shown = image->grab().toImage();
        QCOMPARE(shown.pixel(40, 30) & 0xFFFFFFU, 0x242424U);
        QCOMPARE(shown.pixel(68, 52) & 0xFFFFFFU, 0xFFFFFFU); // the white margin

        auto* shift_up = control<QWidget>(QStringLiteral("updown_1128"))->findChild<QToolButton*>(QStringLiteral("up"));
        QTest::mouseClick(shift_up, Qt::LeftButton);
        QCOMPARE(field(id::BIT_SHIFT)->text(), QStringLiteral("1"));
        QCOMPARE(panel_->logic().frame_buf()[30 * 64 + 40], 4500);
    }

    void edit_a_value_through_the_dialog() {
        panel_->add_path(ser_path_);
        auto* view = control<QTableView>(QStringLiteral("table_1076"));
        const int y = view->rowViewportPosition(0) + 3;
        QString shown;
        answer_modal([&shown](QWidget* modal) {
            QCOMPARE(modal->windowTitle(), QStringLiteral("Enter a new value"));
            auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("edit_1084"));
            shown = edit->text();
            edit->setText(QStringLiteral("250"));
            QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("button_ok")), Qt::LeftButton);
        });
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(460, y));
        QCOMPARE(shown, QStringLiteral("4"));
        QCOMPARE(table_model()->index(0, 9).data().toString(), QStringLiteral("250"));

        // A stop beyond the last frame is refused; Cancel keeps the cell.
        answer_modal([](QWidget* modal) {
            modal->findChild<QLineEdit*>(QStringLiteral("edit_1084"))->setText(QStringLiteral("60"));
            QTest::keyClick(modal->findChild<QLineEdit*>(QStringLiteral("edit_1084")), Qt::Key_Return);
        });
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(250, y));
        QCOMPARE(table_model()->index(0, 4).data().toString(), QStringLiteral("59"));
        answer_modal([](QWidget* modal) {
            modal->findChild<QLineEdit*>(QStringLiteral("edit_1084"))->setText(QStringLiteral("10"));
            QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("button_cancel")), Qt::LeftButton);
        });
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(300, y));
        QCOMPARE(table_model()->index(0, 5).data().toString(), QStringLiteral("1"));
    }

    void drag_a_mask_rectangle() {
        control<QAbstractButton>(QStringLiteral("radio_1117"))->click(); // 50%
        control<QAbstractButton>(QStringLiteral("radio_1121"))->click(); // mask 1, tied to the top right
        panel_->add_path(ser_path_);
        image_window* image = panel_->image();
        QVERIFY(image != nullptr);
        QCOMPARE(image->size(), QSize(42, 34));
        const QImage before = image->grab().toImage();
        send_mouse(image, QEvent::MouseButtonPress, {5, 6}, Qt::RightButton, Qt::RightButton);
        QCOMPARE(field(1104)->text(), QString());
        QCOMPARE(field(1106)->text(), QStringLiteral("63"));
        send_mouse(image, QEvent::MouseMove, {10, 12}, Qt::NoButton, Qt::RightButton);
        QCOMPARE(field(id::READOUT_X)->text(), QStringLiteral("20"));
        QCOMPARE(field(id::READOUT_Y)->text(), QStringLiteral("24"));
        QCOMPARE(field(id::READOUT_VALUE)->text(), QString::asprintf("%6d", sample(0, 20, 24)));
        send_mouse(image, QEvent::MouseButtonRelease, {200, 12}, Qt::RightButton, Qt::NoButton); // outside
        QCOMPARE(field(1104)->text(), QString());
        send_mouse(image, QEvent::MouseButtonRelease, {10, 12}, Qt::RightButton, Qt::NoButton);
        QCOMPARE(field(1104)->text(), QStringLiteral("20"));
        QCOMPARE(field(1105)->text(), QStringLiteral("0"));
        QCOMPARE(field(1106)->text(), QStringLiteral("63"));
        QCOMPARE(field(1107)->text(), QStringLiteral("24"));

        // The outline from the mask's corner (31, 0) to (10, 12) inverts what lies under it.
        const QImage after = image->grab().toImage();
        QCOMPARE(after.pixel(20, 12) & 0xFFFFFFU, ~before.pixel(20, 12) & 0xFFFFFFU);
        QCOMPARE(after.pixel(10, 5) & 0xFFFFFFU, ~before.pixel(10, 5) & 0xFFFFFFU);
        QCOMPARE(after.pixel(20, 6), before.pixel(20, 6));

        // Shown as a mask outline at the next frame paint; the drag's outline is gone then.
        control<QAbstractButton>(QStringLiteral("check_1125"))->click();
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1002")), Qt::LeftButton);
        const QImage masks = image->grab().toImage();
        QCOMPARE(masks.pixel(20, 12) & 0xFFFFFFU, ~before.pixel(20, 12) & 0xFFFFFFU);
        QCOMPARE(masks.pixel(0, 0) & 0xFFFFFFU, ~before.pixel(0, 0) & 0xFFFFFFU); // masks 0, 2, 3 at the corners
        control<QAbstractButton>(QStringLiteral("check_1125"))->click();
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1002")), Qt::LeftButton);
        QCOMPARE(image->grab().toImage(), before);
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
        send_mouse(panel_->image(), QEvent::MouseButtonPress, {130, 20}, Qt::RightButton, Qt::RightButton);
        send_mouse(panel_->image(), QEvent::MouseButtonRelease, {120, 30}, Qt::RightButton, Qt::NoButton);
        field(id::INITIAL_THRESHOLD)->clear();
        QTest::keyClicks(field(id::INITIAL_THRESHOLD), QStringLiteral("50"));
        control<QAbstractButton>(QStringLiteral("check_1068"))->click(); // mask stars
        QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
        QString closing;
        answer_modal([&closing](QWidget* modal) {
            closing = message_text(modal);
            static_cast<QDialog*>(modal)->accept();
        });
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        QVERIFY(panel_->scanning());
        QVERIFY(!control<QWidget>(QStringLiteral("inputs"))->isEnabled());
        QCOMPARE(panel_->image(), nullptr);
        QVERIFY(finished.wait(120000));
        QVERIFY2(closing.startsWith(QStringLiteral("The scans of all SER files completed!|Month_Day ")),
                 qPrintable(closing));
        QVERIFY(control<QWidget>(QStringLiteral("inputs"))->isEnabled());
        QCOMPARE(table_model()->index(0, 0).data().toString(), QStringLiteral("1"));
        QVERIFY(!field(id::THRESHOLD_AT_PRESENT)->text().isEmpty());
        QVERIFY(panel_->runner().report().all_scanned());

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
        cli.start(
            QStringLiteral(SERFLASH_CLI),
            {QStringLiteral("scan"), QStringLiteral("m3.ser"), QStringLiteral("--threshold"), QStringLiteral("50"),
             QStringLiteral("--mask-stars"), QStringLiteral("--mask1"), QStringLiteral("120,0,159,30")});
        QVERIFY(cli.waitForFinished(120000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        std::vector<std::string> cli_names;
        relative_tree(cli_root, cli_names);
        std::erase_if(cli_names, [](const std::string& n) { return n.ends_with(".ser"); });
        QCOMPARE(gui_names, cli_names);
        for (const auto& name : gui_names) {
            if (std::filesystem::is_directory(gui_root / name)) continue;
            QVERIFY2(read_all(gui_root / name) == read_all(cli_root / name), name.c_str());
        }
    }

    void stop_ends_the_batch_after_the_current_frame() {
        const std::string first = synth("s1.ser", 400);
        const std::string second = synth("s2.ser", 400);
        panel_->add_path(first);
        panel_->add_path(second);
        QSignalSpy finished(panel_.get(), &control_panel::scan_finished);
        QString closing;
        answer_modal([&closing](QWidget* modal) {
            closing = message_text(modal);
            static_cast<QDialog*>(modal)->accept();
        });
        QTest::mouseClick(control<QPushButton>(QStringLiteral("button_1077")), Qt::LeftButton);
        auto* stop = control<QPushButton>(QStringLiteral("button_stop_scan"));
        QVERIFY(stop->isEnabled());
        QTest::mouseClick(stop, Qt::LeftButton);
        QVERIFY(finished.wait(120000));
        QVERIFY(!stop->isEnabled());
        const auto& report = panel_->runner().report();
        QVERIFY(report.stopped);
        QCOMPARE(report.files.size(), std::size_t{2});
        QCOMPARE(report.files[0].outcome, detect::file_outcome::stopped);
        QCOMPARE(report.files[1].outcome, detect::file_outcome::not_reached);
        QVERIFY2(closing.startsWith(QStringLiteral("The scans were stopped!|")), qPrintable(closing));
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
