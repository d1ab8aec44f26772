#pragma once
// Helpers shared by the tests that drive the desktop program's windows offscreen.
#include "platform/file_io.h"
#include "ser/ser_writer.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QtTest>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace serflash::ui::qt::testing {

// Samples of frame k at (x, y): a smooth ramp, and one bright point in frame 37.
inline std::uint16_t sample(int k, int x, int y) {
    const int base = 1000 + ((x * 13 + y * 7 + k * 29) % 97);
    if (k == 37 && x == 40 && y == 30) return 9000;
    return static_cast<std::uint16_t>(base);
}

inline bool write_ser(const std::string& path, int w, int h, int frames) {
    auto out = platform::native_file_system().open_write(path, platform::write_mode::truncate);
    if (!out) return false;
    ser::ser_writer writer(*out.value(), ser::make_header(w, h, 16, frames));
    std::vector<std::uint16_t> s(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int k = 0; k < frames; ++k) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) s[static_cast<std::size_t>(y * w + x)] = sample(k, x, y);
        writer.write_frame(s);
    }
    return writer.close();
}

// Answers the next modal window (message box or dialog) once it is up.
inline void answer_modal(std::function<void(QWidget*)> answer) {
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

// "caption|text" of a message box.
inline QString message_text(QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    return box != nullptr ? box->windowTitle() + "|" + box->text() : QString();
}

inline void send_mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Types text into a field as the user does, replacing what it holds.
inline void type_into(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
}

// A widget's rectangle on the screen.
inline QRect global_rect(const QWidget* w) { return {w->mapToGlobal(QPoint(0, 0)), w->size()}; }

} // namespace serflash::ui::qt::testing
