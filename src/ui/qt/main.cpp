// serflash-gui: the desktop program. Files named on the command line are added to the scan
// table as a double-click in the folder list adds them; with --review they are results folders
// shown in the Candidates window alone, and closing it ends the program.
#include "platform/file_io.h"
#include "ui/folder_list.h"
#include "ui/qt/control_panel.h"
#include "ui/qt/review_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace {

struct gui_options {
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the screen to <file> and quit."),
                                  QStringLiteral("file")};
    QCommandLineOption review{QStringLiteral("review"),
                              QStringLiteral("Open the Candidates window for the results folders named.")};
    QCommandLineOption grid{QStringLiteral("grid"),
                            QStringLiteral("With --review, draw the Moon's grid over the frame from the start.")};
    QCommandLineOption scan{QStringLiteral("scan"),
                            QStringLiteral("Start the scan of the files named at once (with --screenshot, the "
                                           "picture is taken when the scan is over).")};
};

void define(QCommandLineParser& parser, const gui_options& o) {
    parser.setApplicationDescription(QStringLiteral("Scans SER videos for impact flashes."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(o.screenshot);
    parser.addOption(o.review);
    parser.addOption(o.scan);
    parser.addOption(o.grid);
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("SER files to add to the scan table (results folders with --review)."),
                                 QStringLiteral("[files...]"));
}

void name_application() {
    QCoreApplication::setApplicationName(QStringLiteral("serflash"));
    QCoreApplication::setOrganizationName(QStringLiteral("serflash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SERFLASH_VERSION));
}

// --help and --version need no display: they are answered before any window system is opened.
bool only_help_or_version(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version") return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const gui_options options;
    if (only_help_or_version(argc, argv)) {
        QCoreApplication core(argc, argv);
        name_application();
        QCommandLineParser parser;
        define(parser, options);
        parser.process(core); // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    name_application();
    QApplication::setQuitOnLastWindowClosed(false); // the control panel ends the program

    QCommandLineParser parser;
    define(parser, options);
    parser.process(app);
    const QCommandLineOption& screenshot = options.screenshot;
    const QCommandLineOption& review = options.review;
    const QCommandLineOption& scan = options.scan;

    // A screenshot run has nobody to answer a box, so a file that is not there ends it here.
    if (parser.isSet(screenshot))
        for (const QString& file : parser.positionalArguments())
            if (std::error_code ec; !std::filesystem::exists(file.toStdString(), ec)) {
                std::fprintf(stderr, "serflash-gui: there is no such file: %s\n", file.toLocal8Bit().constData());
                return 2;
            }

    std::unique_ptr<serflash::ui::qt::control_panel> panel;
    std::unique_ptr<serflash::ui::qt::review_window> review_alone;
    QWidget* main_window = nullptr; // painted first in a screenshot, closed to end
    if (parser.isSet(review)) {
        std::vector<std::filesystem::path> folders;
        for (const QString& folder : parser.positionalArguments()) folders.emplace_back(folder.toStdString());
        review_alone = std::make_unique<serflash::ui::qt::review_window>();
        review_alone->load(folders);
        if (parser.isSet(options.grid)) review_alone->set_grid(true);
        review_alone->show();
        QApplication::setQuitOnLastWindowClosed(true);
        main_window = review_alone.get();
    } else {
        panel = std::make_unique<serflash::ui::qt::control_panel>(serflash::ui::native_folder_access(),
                                                                  serflash::platform::native_file_system());
        panel->show();
        for (const QString& file : parser.positionalArguments()) panel->add_path(file.toStdString());
        main_window = panel.get();
        if (parser.isSet(scan))
            if (auto* start = panel->findChild<QPushButton*>(QStringLiteral("button_1077")); start != nullptr)
                QTimer::singleShot(500, start, &QPushButton::click);
    }

    if (parser.isSet(screenshot)) {
        const QString target = parser.value(screenshot);
        const auto shoot = [main_window, target] {
            // The windows' own pictures, painted where they stand (the main window first, so
            // the windows beside it come on top), rather than what the X server holds.
            if (QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
                QImage picture(screen->geometry().size() * screen->devicePixelRatio(), QImage::Format_RGB32);
                picture.setDevicePixelRatio(screen->devicePixelRatio());
                picture.fill(Qt::black);
                QPainter painter(&picture);
                painter.drawPixmap(main_window->geometry().topLeft(), main_window->grab());
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w != main_window && w->isVisible()) painter.drawPixmap(w->geometry().topLeft(), w->grab());
                painter.end();
                picture.save(target);
            }
            // A box still up (a scan's closing box) is answered first, so nothing runs on after.
            if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr) modal->close();
            QTimer::singleShot(0, main_window, [main_window] {
                main_window->close();
                QApplication::quit();
            });
        };
        if (panel && parser.isSet(scan)) {
            // Once the scan is over (its closing box may be up), so the picture shows its outcome.
            auto* wait = new QTimer(panel.get());
            QObject::connect(wait, &QTimer::timeout, panel.get(), [wait, shoot, p = panel.get()] {
                if (p->scanning() || p->runner().report().files.empty()) return;
                wait->stop();
                QTimer::singleShot(800, p, shoot);
            });
            wait->start(200);
        } else {
            QTimer::singleShot(1500, main_window, shoot);
        }
    }
    return QApplication::exec();
}
