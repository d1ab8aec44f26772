// serflash-gui: the desktop program. Files named on the command line are added to the scan
// table as a double-click in the folder list adds them; with --review they are results folders
// shown in the Candidates window.
#include "platform/file_io.h"
#include "ui/folder_list.h"
#include "ui/qt/control_panel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <filesystem>
#include <vector>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("serflash"));
    QApplication::setOrganizationName(QStringLiteral("serflash"));
    QApplication::setQuitOnLastWindowClosed(false); // the control panel ends the program

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Scans SER videos for impact flashes."));
    QApplication::setApplicationVersion(QStringLiteral(SERFLASH_VERSION));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the screen to <file> and quit."),
                                        QStringLiteral("file"));
    parser.addOption(screenshot);
    const QCommandLineOption review(QStringLiteral("review"),
                                    QStringLiteral("Open the Candidates window for the results folders named."));
    parser.addOption(review);
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("SER files to add to the scan table (results folders with --review)."),
                                 QStringLiteral("[files...]"));
    parser.process(app);

    serflash::ui::qt::control_panel panel(serflash::ui::native_folder_access(),
                                          serflash::platform::native_file_system());
    panel.show();
    if (parser.isSet(review)) {
        std::vector<std::filesystem::path> folders;
        for (const QString& folder : parser.positionalArguments()) folders.emplace_back(folder.toStdString());
        panel.open_review(folders);
    } else {
        for (const QString& file : parser.positionalArguments()) panel.add_path(file.toStdString());
    }

    if (parser.isSet(screenshot)) {
        const QString target = parser.value(screenshot);
        QTimer::singleShot(1500, &panel, [&panel, target] {
            // The windows' own pictures, painted where they stand (the panel first, so the
            // windows beside it come on top), rather than what the X server holds.
            if (QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
                QImage picture(screen->geometry().size() * screen->devicePixelRatio(), QImage::Format_RGB32);
                picture.setDevicePixelRatio(screen->devicePixelRatio());
                picture.fill(Qt::black);
                QPainter painter(&picture);
                painter.drawPixmap(panel.geometry().topLeft(), panel.grab());
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w != &panel && w->isVisible()) painter.drawPixmap(w->geometry().topLeft(), w->grab());
                painter.end();
                picture.save(target);
            }
            panel.close();
        });
    }
    return QApplication::exec();
}
