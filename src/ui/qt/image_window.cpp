#include "ui/qt/image_window.h"

#include "ui/main_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace serflash::ui::qt {
namespace {

// Pointer positions arrive as signed 16-bit pairs, as the window system packs them.
view_point to_view_point(const QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    return {static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(p.x()) & 0xFFFFU)),
            static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(p.y()) & 0xFFFFU))};
}

constexpr int page_frames = 50;

} // namespace

int frames_for_key(int key) {
    switch (key) {
        case Qt::Key_Right:
        case Qt::Key_Down:
            return 1;
        case Qt::Key_Left:
        case Qt::Key_Up:
            return -1;
        case Qt::Key_PageDown:
            return page_frames;
        case Qt::Key_PageUp:
            return -page_frames;
        default:
            return 0;
    }
}

image_canvas::image_canvas(main_dialog& dlg, logic_runner run, int client_w, int client_h)
    : dlg_(dlg), run_(std::move(run)) {
    setObjectName(QStringLiteral("image_canvas"));
    setFixedSize(client_w, client_h);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void image_canvas::paintEvent(QPaintEvent*) {
    const std::vector<std::uint32_t> pixels = dlg_.image_pixels();
    const int w = dlg_.view.client_w(), h = dlg_.view.client_h();
    if (pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h) || w <= 0 || h <= 0) return;
    const QImage image(reinterpret_cast<const uchar*>(pixels.data()), w, h, w * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

void image_canvas::mouseMoveEvent(QMouseEvent* event) { dlg_.image_mouse_move(to_view_point(event)); }

void image_canvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) dlg_.image_right_down(to_view_point(event));
}

void image_canvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) return;
    dlg_.image_right_up(to_view_point(event));
    if (!dlg_.view.dragging()) unsetCursor();
}

void image_canvas::wheelEvent(QWheelEvent* event) {
    // One notch (120) is one frame; rolling towards the user moves forward.
    wheel_rest_ += event->angleDelta().y();
    const int notches = wheel_rest_ / 120;
    wheel_rest_ -= notches * 120;
    if (notches != 0) run_([&] { dlg_.step_frames(-notches); });
    event->accept();
}

image_window::image_window(main_dialog& dlg, logic_runner run, int client_w, int client_h)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), dlg_(dlg), run_(std::move(run)) {
    setObjectName(QStringLiteral("image_window"));
    setWindowTitle(QStringLiteral("SER movie frame"));
    setFocusPolicy(Qt::StrongFocus);

    strip_ = new QWidget;
    auto* strip_row = new QHBoxLayout(strip_);
    strip_row->setContentsMargins(4, 2, 4, 2);
    auto_levels_ = new QCheckBox(QStringLiteral("Auto levels"));
    auto_levels_->setObjectName(QStringLiteral("check_auto_levels"));
    auto_levels_->setToolTip(
        QStringLiteral("Stretch the shown frame between the darkest and brightest samples "
                       "(0.5 and 99.8 percentiles). Off: the row's Brt, as the snapshots."));
    auto_levels_->setChecked(dlg_.auto_levels());
    auto_levels_->setFocusPolicy(Qt::NoFocus);
    connect(auto_levels_, &QCheckBox::toggled, this, [this](bool on) {
        run_([&] { dlg_.set_auto_levels(on); });
        show_levels();
    });
    auto* brt = new QPushButton(QStringLiteral("Brt from levels"));
    brt->setObjectName(QStringLiteral("button_brt_from_levels"));
    brt->setToolTip(
        QStringLiteral("Set this file's Brt so that the frame's bright level shows white, "
                       "in the window and in the snapshots."));
    brt->setFocusPolicy(Qt::NoFocus);
    brt->setAutoDefault(false);
    connect(brt, &QPushButton::clicked, this, [this] {
        run_([&] { dlg_.brightness_from_levels(); });
        show_levels();
    });
    levels_ = new QLabel;
    levels_->setObjectName(QStringLiteral("levels_text"));
    // As wide as the longest text it shows, so the window keeps the size it was placed with.
    levels_->setMinimumWidth(levels_->fontMetrics().horizontalAdvance(QStringLiteral("levels 65535 to 65535")) + 4);
    strip_row->addWidget(auto_levels_);
    strip_row->addWidget(brt);
    strip_row->addWidget(levels_, 1);

    canvas_ = new image_canvas(dlg_, run_, client_w, client_h);
    scroll_ = new QScrollArea;
    scroll_->setObjectName(QStringLiteral("image_scroll"));
    scroll_->setWidget(canvas_);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setFocusPolicy(Qt::NoFocus);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    v->addWidget(strip_);
    v->addWidget(scroll_, 1);
    resize(whole_size());
    show_levels();
}

QSize image_window::whole_size() const {
    return {std::max(canvas_->width(), strip_->sizeHint().width()), canvas_->height() + strip_->sizeHint().height()};
}

void image_window::show_levels() {
    const auto levels = dlg_.shown_levels();
    levels_->setText(levels ? QStringLiteral("levels %1 to %2").arg(levels->low).arg(levels->high) : QString());
}

void image_window::keyPressEvent(QKeyEvent* event) {
    if (const int frames = frames_for_key(event->key()); frames != 0) {
        run_([&] { dlg_.step_frames(frames); });
        show_levels();
        return;
    }
    QWidget::keyPressEvent(event);
}

void image_window::closeEvent(QCloseEvent* event) {
    // The window goes with its file or with the panel, never on its own.
    if (event->spontaneous()) event->ignore();
}

} // namespace serflash::ui::qt
