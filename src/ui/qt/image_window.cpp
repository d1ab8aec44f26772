#include "ui/qt/image_window.h"

#include "ui/main_dialog.h"

#include <QCloseEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace serflash::ui::qt {
namespace {

// Pointer positions arrive as signed 16-bit pairs, as the window system packs them.
view_point to_view_point(const QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    return {static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(p.x()) & 0xFFFFU)),
            static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(p.y()) & 0xFFFFU))};
}

} // namespace

image_window::image_window(main_dialog& dlg, int client_w, int client_h)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), dlg_(dlg) {
    setObjectName(QStringLiteral("image_window"));
    setWindowTitle(QStringLiteral("SER movie frame"));
    setFixedSize(client_w, client_h);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void image_window::paintEvent(QPaintEvent*) {
    const std::vector<std::uint32_t> pixels = dlg_.image_pixels();
    const int w = dlg_.view.client_w(), h = dlg_.view.client_h();
    if (pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h) || w <= 0 || h <= 0) return;
    const QImage image(reinterpret_cast<const uchar*>(pixels.data()), w, h, w * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

void image_window::mouseMoveEvent(QMouseEvent* event) { dlg_.image_mouse_move(to_view_point(event)); }

void image_window::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) dlg_.image_right_down(to_view_point(event));
}

void image_window::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) return;
    dlg_.image_right_up(to_view_point(event));
    if (!dlg_.view.dragging()) unsetCursor();
}

void image_window::closeEvent(QCloseEvent* event) {
    // The window goes with its file or with the panel, never on its own.
    if (event->spontaneous()) event->ignore();
}

} // namespace serflash::ui::qt
